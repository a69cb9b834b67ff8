// Damaged copies of a table: random bit flips, zeroed runs and cuts in one of
// its three files, then open, a read of every record, verify, repair and a
// second read. Whatever the damage, no step crashes or hangs, a step that
// cannot go on says so with an engine error, and a repair that reports
// success leaves a table whose every record reads and which verifies clean.
//
// The short seeded run is part of the suite. A long run:
//   PIXHOLD_LONG_TESTS=1 PIXHOLD_DAMAGE_COPIES=100000 core_tests --gtest_filter='TableDamage.*'
// (PIXHOLD_DAMAGE_SEED picks another series of damages, PIXHOLD_DAMAGE_ONLY=N
// runs copy N of the series alone, PIXHOLD_DAMAGE_FIRST=N starts at copy N,
// so that processes can share a long run.)

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "CursorEditSupport.h"
#include "EngineError.h"
#include "TableMaintenance.h"
#include "TableTestSupport.h"

namespace pixhold::engine {
namespace {

using namespace edittest;

constexpr const char* kExtensions[] = {".DAT", ".IDX", ".BLB"};

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtoull(v, nullptr, 10) : fallback;
}

bool LongRun() {
    const char* v = std::getenv("PIXHOLD_LONG_TESTS");
    return v != nullptr && std::string(v) == "1";
}

// The picture of record i: 0 to about 20 KB, bytes that differ between records.
std::string Picture(int i) {
    const std::size_t length = i % 9 == 0 ? 0 : static_cast<std::size_t>((i * 7919) % 20000);
    std::string bytes(length, '\0');
    for (std::size_t k = 0; k < length; ++k) bytes[k] = static_cast<char>((i * 131 + k * 17 + k / 509) % 253);
    return bytes;
}

// The table every copy starts from: 60 records with pictures, some deleted
// (their blocks on the free chain), then a few more appended into the freed
// record slots and blocks, so that chains do not all run in order.
void MakeTemplate(const std::string& folder) {
    EditFixture fx;
    {
        auto cursor = fx.Open();
        auto values = [](int i) {
            return Values{"p" + std::to_string(i), i, "c" + std::to_string(i), "k" + std::to_string(i % 4), Picture(i)};
        };
        for (int i = 1; i <= 60; ++i) Append(*cursor, values(i));
        std::vector<std::uint8_t> buffer(cursor->RecordSize());
        for (int i = 5; i <= 60; i += 7) {
            ASSERT_TRUE(Seek(*cursor, "p" + std::to_string(i)));
            ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
            cursor->DeleteRecord(buffer.data(), false);
        }
        for (int i = 61; i <= 64; ++i) Append(*cursor, values(i));
        cursor->CloseCursor();
    }
    for (const char* ext : kExtensions) std::filesystem::copy_file(fx.FilePath(ext), folder + "Pics" + ext);
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One damage to one file of a copy: what it was, for the failure message.
std::string Damage(std::mt19937_64& random, std::vector<std::string>& files) {
    const std::size_t which = random() % 3;
    std::string& bytes = files[which];
    std::string what = kExtensions[which];
    if (bytes.empty()) return what + " empty";
    // Half of the damages hit the headers and descriptors, where one byte
    // decides how the rest of the file is read.
    const std::size_t headers = std::min<std::size_t>(bytes.size(), which == 2 ? 512 : 4096);
    auto place = [&]() -> std::size_t { return random() % 2 == 0 ? random() % headers : random() % bytes.size(); };
    switch (random() % 3) {
        case 0: {
            const int flips = 1 + static_cast<int>(random() % 4);
            what += " flips at";
            for (int f = 0; f < flips; ++f) {
                const std::size_t at = place();
                bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
                what += " " + std::to_string(at);
            }
            break;
        }
        case 1: {
            const std::size_t at = place();
            const std::size_t length = std::min<std::size_t>(1 + random() % 64, bytes.size() - at);
            bytes.replace(at, length, length, '\0');
            what += " zeroes at " + std::to_string(at) + " for " + std::to_string(length);
            break;
        }
        default: {
            const std::size_t at = place();
            bytes.resize(at);
            what += " cut at " + std::to_string(at);
            break;
        }
    }
    return what;
}

// The copy under way, for the report of a crash (a signal handler can only
// write what is already there).
char gCopyLabel[1024] = "";

extern "C" void ReportCrash(int signal) {
    const char start[] = "TableDamage: crash in ";
    if (write(2, start, sizeof start - 1) < 0 || write(2, gCopyLabel, std::strlen(gCopyLabel)) < 0 ||
        write(2, "\n", 1) < 0) {
        // Nothing more can be done about it here.
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Aborts the program when one copy takes far too long: a hang must show as
// a failure, not as a test run that never ends.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit) : limit_(limit), thread_([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void Start(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex_);
        what_ = what;
        deadline_ = std::chrono::steady_clock::now() + limit_;
        ++generation_;
        wake_.notify_all();
    }

private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            const auto generation = generation_;
            if (wake_.wait_until(lock, deadline_, [&] { return stop_ || generation_ != generation; })) continue;
            if (generation_ == 0) {
                deadline_ = std::chrono::steady_clock::now() + limit_;
                continue;
            }
            std::cerr << "TableDamage: hang in " << what_ << std::endl;
            std::abort();
        }
    }

    std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string what_;
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::now() + limit_;
    std::uint64_t generation_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

// What became of one step.
enum class Outcome { Done, EngineError };

// What ended the last step that did not go through, for the report.
std::string gLastEngineError;

// Runs a step: an engine error is a clear refusal; anything else thrown is a fault.
Outcome Attempt(const char* step, std::string& faults, const std::function<void()>& run) {
    gLastEngineError = "not an engine error (above)";
    try {
        run();
        return Outcome::Done;
    } catch (const ECofferEngineError& e) {
        gLastEngineError = e.what();
        return Outcome::EngineError;
    } catch (const std::exception& e) {
        faults += std::string(step) + ": not an engine error: " + e.what() + "\n";
    } catch (...) {
        faults += std::string(step) + ": unknown exception\n";
    }
    return Outcome::EngineError;
}

// Reads every record in the primary index's order with its picture. Codes the
// cursor returns go to `code` (0 when everything read); a walk that does not
// end is a fault.
void ReadAll(TDataDirectory& directory, std::uint16_t& code, std::string& faults) {
    code = 0;
    TDataCursor cursor(directory);
    cursor.TableName = "Pics";
    cursor.OpenCursor();
    std::vector<std::uint8_t> buffer(cursor.RecordSize());
    const std::uint32_t count = cursor.GetRecordCount();
    const std::uint32_t physical = cursor.Table().PhysicalRecordCount();
    std::uint32_t read = 0;
    cursor.SetToBegin();
    for (;;) {
        const int rc = cursor.GetNextRecord(buffer.data());
        if (rc == err::EndOfTable) break;
        if (rc != 0) {
            code = static_cast<std::uint16_t>(rc);
            break;
        }
        if (++read > physical + 1) {
            faults += "the walk over the records does not end\n";
            break;
        }
        for (const FieldDescriptor& f : cursor.Fields()) {
            if (f.type != fieldtype::Blob || !f.TakesRoom()) continue;
            const auto number = static_cast<std::uint16_t>(f.number);
            std::uint32_t length = 0;
            int blob = cursor.OpenBlob(number, buffer.data(), TBlobOpenMode::Read, length);
            if (blob == 0 && length > 0) {
                std::vector<std::uint8_t> contents(length);
                std::uint32_t got = 0;
                blob = cursor.GetBlob(number, buffer.data(), 0, length, contents.data(), got);
                if (blob == 0 && got != length) blob = err::EndOfBlob;
            }
            cursor.FreeBlob(number, buffer.data());
            if (blob != 0 && code == 0) code = static_cast<std::uint16_t>(blob);
        }
    }
    if (code == 0 && read != count)
        faults += "read " + std::to_string(read) + " records of " + std::to_string(count) + "\n";
    cursor.CloseCursor();
}

// Runs one damaged copy in `folder` through every command; the faults found.
std::string RunCopy(const std::string& folder, bool& repaired) {
    repaired = false;
    std::string faults;
    auto session = coretest::FastSession();
    TDataDirectory* directory = session->OpenDataDirectory("PH", folder);
    std::uint16_t code = 0;
    Attempt("read", faults, [&] { ReadAll(*directory, code, faults); });
    TTableMaintenance maintenance(*directory, "Pics");
    Attempt("verify", faults, [&] { maintenance.VerifyTable(); });
    std::string log;
    maintenance.Events.OnLog = [&](const std::string& m) { log += m + "\n"; };
    if (Attempt("repair", faults, [&] { maintenance.RepairTable(); }) != Outcome::Done) return faults;
    repaired = true;
    // The repair reported success: the table must be whole.
    const std::string repairLog = log;
    bool readAll = false;
    if (Attempt("read after repair", faults, [&] {
            ReadAll(*directory, code, faults);
            readAll = code == 0;
        }) != Outcome::Done)
        faults += "after the repair the table does not read: " + gLastEngineError + "\n";
    else if (!readAll)
        faults += "after the repair a record does not read (code " + std::to_string(code) + ")\n";
    log.clear();
    bool clean = false;
    Attempt("verify after repair", faults, [&] { clean = maintenance.VerifyTable(); });
    if (!clean) faults += "after the repair the table does not verify:\n" + log;
    Attempt("inspect after repair", faults, [&] {
        TDataCursor cursor(*directory);
        cursor.TableName = "Pics";
        cursor.OpenCursor();
        // It reads the template's fields, which a mended header may no longer have.
        const TableDefinition made = EditTable();
        bool sameFields = cursor.Fields().size() == made.fields.size();
        for (std::size_t i = 0; sameFields && i < made.fields.size(); ++i)
            sameFields = cursor.Fields()[i].type == made.fields[i].type;
        if (!sameFields) return;
        // The inspection keys active records by name and builds secondary
        // keys by the definitions the table was made with: names that a
        // damage made equal (a null name twice) collapse there, and a damaged
        // index definition (a descending flag) that the repair kept gives
        // other keys. Neither is a fault of the table; the counts and the
        // order of every index are verify's to check.
        std::istringstream lines(Inspect(cursor.Table()).problems);
        std::string problems;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("name ", 0) == 0 || line.rfind("primary index has ", 0) == 0 ||
                line.rfind("active record count ", 0) == 0 || line.rfind("secondary keys differ", 0) == 0)
                continue;
            problems += line + "\n";
        }
        if (!problems.empty()) faults += "after the repair the files disagree:\n" + problems;
        cursor.CloseCursor();
    });
    if (!faults.empty()) faults += "repair log:\n" + repairLog;
    return faults;
}

TEST(TableDamage, NoDamagedCopyCrashesHangsOrIsRepairedHalfway) {
    pixhold::test::TempDir templateDir;
    MakeTemplate(templateDir.folder());
    std::vector<std::string> original;
    for (const char* ext : kExtensions) original.push_back(FileBytes(templateDir.folder() + "Pics" + ext));

    const std::uint64_t copies = LongRun() ? EnvNumber("PIXHOLD_DAMAGE_COPIES", 100000) : 120;
    const std::uint64_t seed = EnvNumber("PIXHOLD_DAMAGE_SEED", 20261210);
    // One copy of the series alone, to look at a fault.
    const std::uint64_t only = EnvNumber("PIXHOLD_DAMAGE_ONLY", 0);
    const std::uint64_t first = EnvNumber("PIXHOLD_DAMAGE_FIRST", 1);
    std::mt19937_64 random(seed);
    Watchdog watchdog(std::chrono::seconds(LongRun() ? 60 : 300));
    // Under the sanitizers they report a crash themselves.
    if (LongRun())
        for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) std::signal(signal, ReportCrash);
    pixhold::test::TempDir work;
    int failures = 0;
    std::uint64_t refused = 0, repaired = 0;
    const auto started = std::chrono::steady_clock::now();
    for (std::uint64_t copy = 1; copy <= copies; ++copy) {
        std::vector<std::string> files = original;
        std::string what = Damage(random, files);
        if (random() % 4 == 0) what += "; " + Damage(random, files);
        if ((only != 0 && copy != only) || copy < first) continue;
        for (std::size_t i = 0; i < files.size(); ++i) WriteBytes(work.folder() + "Pics" + kExtensions[i], files[i]);
        const std::string label = "copy " + std::to_string(copy) + " (seed " + std::to_string(seed) + "): " + what;
        watchdog.Start(label);
        std::snprintf(gCopyLabel, sizeof gCopyLabel, "%s", label.c_str());
        bool mended = false;
        const std::string faults = RunCopy(work.folder(), mended);
        (mended ? repaired : refused) += 1;
        if (!faults.empty()) {
            if (++failures <= 20) ADD_FAILURE() << label << "\n" << faults;
            // Every fault of a long run by its copy, to find them again.
            if (LongRun())
                std::cout << "TableDamage: fault in " << label << ": " << faults.substr(0, faults.find('\n'))
                          << std::endl;
        }
        // Backups and anything else a repair left beside the table go.
        for (const auto& entry : std::filesystem::directory_iterator(work.path())) std::filesystem::remove_all(entry);
        if (LongRun() && copy % 10000 == 0)
            std::cout << "TableDamage: " << copy << " copies, " << repaired << " repaired, " << refused
                      << " refused by the repair, " << failures << " with faults, "
                      << std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count()
                      << " s" << std::endl;
    }
    EXPECT_EQ(failures, 0) << "of " << copies << " damaged copies";
}

}  // namespace
}  // namespace pixhold::engine
