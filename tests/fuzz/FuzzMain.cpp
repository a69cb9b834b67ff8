// pixhold_fuzz: a small mutation fuzzer for the picture decoders.
//
//   pixhold_fuzz TARGET [--seed N] [--runs N] [--max-seconds S] [--corpus DIR]...
//                [--time-limit-ms MS] [--out DIR] [--no-fixtures] [--keep-going]
//                [--replay FILE...] [--dump-seeds DIR]
//
// TARGET is bmp, ico, wmf, emf, jpeg, png or gif. The seed inputs are the
// fixture files of the target's extensions under tests/imaging/fixtures, every
// file under each --corpus folder, and small files made in code. Each seed
// runs once as it is; then inputs made by mutating the pool (the seeds plus
// every mutated input that gave an outcome not seen before) run until --runs
// inputs or --max-seconds have gone by (default 10000 inputs). The same seed
// gives the same inputs in the same order.
//
// Expected answers to a bad input are EInvalidGraphic and other
// std::exceptions. A finding ends the run with exit code 1 and its input saved
// under --out (default "fuzz-findings") as TARGET-KIND-N.bin, N the number of
// the mutated input (seedK for the K-th seed): an input that runs longer than --time-limit-ms (default 1000;
// "slow"), a result that cannot be right or an exception of another type
// ("wrong"), a leak in sanitizer builds ("leak"), or a crash or sanitizer
// report ("crash"). The fuzzing runs in a child process; the parent keeps a
// copy of the input under way, so that it can save it however the child ends,
// and stops a child whose input runs past the limit. With --keep-going every
// finding is saved and the run goes on (after a crash or a hang in a new child
// that starts at the next input); the exit code is 1 when there was any.
#include "Mutator.h"
#include "Seeds.h"
#include "Targets.h"

#include <QGuiApplication>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define PIXHOLD_FUZZ_SANITIZED 1
#endif

#if defined(PIXHOLD_FUZZ_SANITIZED)
// Font libraries keep caches the leak check cannot follow (they are freed
// when Qt ends): not leaks of ours, and not of an input.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libfreetype.so\n";
}
#endif

namespace fs = std::filesystem;
using namespace pixhold::fuzz;
using Clock = std::chrono::steady_clock;

namespace {

struct TOptions {
    std::string Target;
    std::uint64_t Seed = 1;
    std::uint64_t Runs = 0;       // 0: until the time is up (10000 when no time is given)
    double MaxSeconds = 0;
    std::vector<std::string> Corpus;
    int TimeLimitMs = 1000;
    std::string Out = "fuzz-findings";
    bool Fixtures = true;
    bool KeepGoing = false;       // save findings and go on with the next input
    std::vector<std::string> Replay;
    std::string DumpSeeds;        // write the seeds made in code to this folder and stop
};

[[noreturn]] void Usage(const char* message) {
    std::fprintf(stderr, "pixhold_fuzz: %s\n", message);
    std::fprintf(stderr,
                 "usage: pixhold_fuzz TARGET [--seed N] [--runs N] [--max-seconds S] [--corpus DIR]...\n"
                 "                    [--time-limit-ms MS] [--out DIR] [--no-fixtures] [--keep-going]\n"
                 "                    [--replay FILE...] [--dump-seeds DIR]\n"
                 "targets:");
    for (const TTarget& t : Targets()) std::fprintf(stderr, " %s", t.Name);
    std::fprintf(stderr, "\n");
    std::exit(2);
}

TOptions Parse(int argc, char** argv) {
    TOptions o;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) Usage("no target");
    o.Target = args[0];
    const auto value = [&](std::size_t& i) -> const std::string& {
        if (i + 1 >= args.size()) Usage(("missing value after " + args[i]).c_str());
        return args[++i];
    };
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        try {
            if (a == "--seed") o.Seed = std::stoull(value(i));
            else if (a == "--runs") o.Runs = std::stoull(value(i));
            else if (a == "--max-seconds") o.MaxSeconds = std::stod(value(i));
            else if (a == "--corpus") o.Corpus.push_back(value(i));
            else if (a == "--time-limit-ms") o.TimeLimitMs = std::stoi(value(i));
            else if (a == "--out") o.Out = value(i);
            else if (a == "--no-fixtures") o.Fixtures = false;
            else if (a == "--keep-going") o.KeepGoing = true;
            else if (a == "--dump-seeds") o.DumpSeeds = value(i);
            else if (a == "--replay") {
                // The files run up to the next option.
                while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) o.Replay.push_back(args[++i]);
            } else Usage(("unknown option " + a).c_str());
        } catch (const std::logic_error&) {
            Usage(("bad value for " + a).c_str());
        }
    }
    if (o.Runs == 0 && o.MaxSeconds <= 0) o.Runs = 10000;
    if (o.TimeLimitMs <= 0) Usage("the time limit must be positive");
    return o;
}

TInput ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return TInput((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Files under a folder, in name order so that runs repeat.
std::vector<fs::path> FilesUnder(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// ----- the input under way, shared with the supervising process -----
//
// The fuzzing runs in a child process that a parent watches. Before each
// input the child copies it into memory shared with the parent, so that the
// parent can save it however the child ends: a crash, a sanitizer report
// (which ends the process from inside the sanitizer's runtime), or a hang,
// which the parent stops.

constexpr std::size_t MaxInputSize = 4 * 1024 * 1024;

struct TShared {
    std::atomic<int> Running;            // 1 while an input runs
    std::atomic<int> Finished;           // the child ended its run by itself
    std::atomic<int> LimitMs;
    std::atomic<std::int64_t> Id;         // the mutated input's number, or -1 - K for the K-th seed
    std::atomic<std::int64_t> StartedNs;
    std::atomic<std::int64_t> DeadlineNs; // 0: none; one for every child of the run
    std::atomic<std::uint64_t> FirstInput; // where a new child starts
    static constexpr int MaxSkipped = 64;
    std::atomic<std::uint64_t> Findings;  // of every child and of the parent
    std::atomic<int> Skipped;             // seeds that ended a child, left out by the next
    std::atomic<std::int64_t> SkippedSeeds[MaxSkipped];  // CLOCK_MONOTONIC, the same clock in both processes
    std::atomic<std::uint64_t> Size;
    std::uint8_t* Data() { return reinterpret_cast<std::uint8_t*>(this + 1); }
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free && std::atomic<std::int64_t>::is_always_lock_free);

TShared* g_shared = nullptr;

std::int64_t MonotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::string IdName(std::int64_t id) {
    return id < 0 ? "seed" + std::to_string(-1 - id) : std::to_string(id);
}

void BeginInput(const TInput& input, std::int64_t id) {
    if (!g_shared) return;
    g_shared->Running.store(0, std::memory_order_release);
    const std::size_t n = std::min(input.size(), MaxInputSize);
    if (n) std::memcpy(g_shared->Data(), input.data(), n);
    g_shared->Size.store(n, std::memory_order_relaxed);
    g_shared->Id.store(id, std::memory_order_relaxed);
    g_shared->StartedNs.store(MonotonicNs(), std::memory_order_relaxed);
    g_shared->Running.store(1, std::memory_order_release);
}

void EndInput() {
    if (g_shared) g_shared->Running.store(0, std::memory_order_release);
}

void SetLimit(int ms) {
    if (g_shared) g_shared->LimitMs.store(ms);
}

std::string SaveBytes(const TOptions& o, const char* kind, std::int64_t id, const std::uint8_t* data,
                      std::size_t size) {
    const fs::path path = fs::path(o.Out) / (o.Target + "-" + kind + "-" + IdName(id) + ".bin");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path.string();
}

std::string SaveFinding(const TOptions& o, const char* kind, std::int64_t id, const TInput& input) {
    return SaveBytes(o, kind, id, input.data(), input.size());
}

std::string SaveShared(const TOptions& o, const char* kind) {
    return SaveBytes(o, kind, g_shared->Id.load(), g_shared->Data(), g_shared->Size.load());
}

// Where a new child goes on after input `id` ended the last one: the next
// mutated input, or for a seed the same place without that seed.
std::int64_t NextAfter(std::int64_t id) {
    if (id >= 0) return id + 1;
    const int n = g_shared->Skipped.load();
    if (n >= TShared::MaxSkipped) return -1;
    g_shared->SkippedSeeds[n].store(id);
    g_shared->Skipped.store(n + 1);
    return static_cast<std::int64_t>(g_shared->FirstInput.load());
}

bool SkippedSeed(std::int64_t id) {
    if (!g_shared) return false;
    for (int i = 0; i < g_shared->Skipped.load(); ++i) {
        if (g_shared->SkippedSeeds[i].load() == id) return true;
    }
    return false;
}

// The parent's side: waits for the child, stops it when one input runs past
// the limit, and saves the input of a child that died. Returns what the child
// returned, or 1 after a finding of its own; `next` is where a new child may
// go on (-1 when it may not).
int Watch(pid_t child, const TOptions& o, std::int64_t& next) {
    next = -1;
    const auto ended = [&](int status) {
        if (g_shared->Finished.load()) {
            if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 1)) ++g_shared->Findings;
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            if (code != 0 && code != 1) {
                std::fprintf(stderr, "pixhold_fuzz: FINDING: the check at the end of the run failed (exit code %d): "
                                     "see the report above\n", code);
            }
            return code;
        }
        const std::string how = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) + " (" +
                                                          strsignal(WTERMSIG(status)) + ")"
                                                    : "exit code " + std::to_string(WEXITSTATUS(status));
        ++g_shared->Findings;
        if (g_shared->Running.load()) {
            const std::string path = SaveShared(o, "crash");
            std::fprintf(stderr, "pixhold_fuzz: FINDING: input %s ended the process (%s); saved as %s\n",
                         IdName(g_shared->Id.load()).c_str(), how.c_str(), path.c_str());
            next = NextAfter(g_shared->Id.load());
        } else {
            std::fprintf(stderr, "pixhold_fuzz: FINDING: the fuzzer ended (%s) outside any input\n", how.c_str());
        }
        return 1;
    };
    for (;;) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) return ended(status);
        if (g_shared->Running.load(std::memory_order_acquire)) {
            const std::int64_t id = g_shared->Id.load();
            const std::int64_t started = g_shared->StartedNs.load();
            const std::int64_t ms = (MonotonicNs() - started) / 1000000;
            if (ms > g_shared->LimitMs.load()) {
                // Stopped first, so that the input cannot change while it is looked at.
                ::kill(child, SIGSTOP);
                if (::waitpid(child, &status, WUNTRACED) == child && !WIFSTOPPED(status)) return ended(status);
                if (g_shared->Running.load() && g_shared->Id.load() == id && g_shared->StartedNs.load() == started) {
                    ++g_shared->Findings;
                    const std::string path = SaveShared(o, "slow");
                    std::fprintf(stderr, "pixhold_fuzz: FINDING: input %s still running after %lld ms (limit %d ms); "
                                         "saved as %s\n",
                                 IdName(id).c_str(), static_cast<long long>(ms), g_shared->LimitMs.load(), path.c_str());
                    ::kill(child, SIGKILL);
                    ::waitpid(child, &status, 0);
                    next = NextAfter(id);
                    return 1;
                }
                ::kill(child, SIGCONT);
            }
        }
        ::usleep(20000);
    }
}

struct TStats {
    std::uint64_t Runs = 0;
    std::uint64_t Findings = 0;
    std::uint64_t Accepted = 0;   // calls
    std::uint64_t Rejected = 0;
    std::uint64_t Other = 0;
    std::map<std::string, std::uint64_t> OtherMessages;
    std::set<std::string> Signatures;
};

class TFuzzer {
public:
    TFuzzer(const TOptions& options, const TTarget& target) : options_(options), target_(target) {}

    // Runs one input; false when it was a finding (reported and saved).
    bool Run(const TInput& input, TOutcome* outcome, std::int64_t id) {
        BeginInput(input, id);
        const auto start = Clock::now();
        std::string failure;
        try {
            *outcome = target_.Run(pixhold::imaging::TBytes(input.data(), input.size()));
        } catch (const TBrokenResult& broken) {
            failure = "wrong result: " + broken.What;
        } catch (const std::exception& e) {
            failure = std::string("exception escaped the target: ") + e.what();
        } catch (...) {
            failure = "an exception that is not a std::exception";
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EndInput();
        ++stats_.Runs;
        if (failure.empty() && ms > options_.TimeLimitMs && !warmingUp_) {
            failure = "took " + std::to_string(ms) + " ms (limit " + std::to_string(options_.TimeLimitMs) + " ms)";
        }
        if (!failure.empty()) {
            const std::string path = SaveFinding(options_, failure.rfind("took", 0) == 0 ? "slow" : "wrong", id, input);
            std::fprintf(stderr, "pixhold_fuzz: FINDING: input %s %s; saved as %s\n", IdName(id).c_str(),
                         failure.c_str(), path.c_str());
            ++stats_.Findings;
            if (g_shared) ++g_shared->Findings;
            return false;
        }
        stats_.Accepted += static_cast<std::uint64_t>(outcome->Accepted);
        stats_.Rejected += static_cast<std::uint64_t>(outcome->Rejected);
        stats_.Other += static_cast<std::uint64_t>(outcome->OtherErrors);
        for (const std::string& m : outcome->OtherMessages) {
            if (stats_.OtherMessages.size() < 50 || stats_.OtherMessages.count(m)) ++stats_.OtherMessages[m];
        }
        return true;
    }

    // True when the outcome is one not seen before.
    bool NewOutcome(const TOutcome& outcome) { return stats_.Signatures.insert(outcome.Signature).second; }

    void SetWarmingUp(bool on) { warmingUp_ = on; }
    const TStats& Stats() const { return stats_; }

    // A leak check of the sanitizers keeps reporting a leak once made, so the
    // input that leaked is found by halving the recent inputs, each half
    // replayed by a fresh process of this program (whose own check at exit
    // fails it when the half leaks).
    using TRecent = std::vector<std::pair<std::int64_t, TInput>>;  // (id, input)
    void FindLeak(const TRecent& recent) {
        ++stats_.Findings;
        if (g_shared) ++g_shared->Findings;
        const fs::path folder = fs::path(options_.Out) / (options_.Target + "-leak-batch");
        fs::create_directories(folder);
        std::vector<std::string> files;
        for (std::size_t i = 0; i < recent.size(); ++i) {
            files.push_back((folder / (std::to_string(i) + ".bin")).string());
            std::ofstream(files.back(), std::ios::binary)
                .write(reinterpret_cast<const char*>(recent[i].second.data()),
                       static_cast<std::streamsize>(recent[i].second.size()));
        }
        const auto leaks = [&](std::size_t from, std::size_t to) {
            std::string command = "'" + fs::read_symlink("/proc/self/exe").string() + "' " + options_.Target + " --replay";
            for (std::size_t i = from; i < to; ++i) command += " '" + files[i] + "'";
            command += " >/dev/null 2>&1";
            return std::system(command.c_str()) != 0;
        };
        std::size_t from = 0, to = files.size();
        if (!leaks(from, to)) {
            std::fprintf(stderr, "pixhold_fuzz: FINDING: a leak that no replay of the recent inputs repeats; they are in %s\n",
                         folder.string().c_str());
            return;
        }
        while (to - from > 1) {
            const std::size_t mid = from + (to - from) / 2;
            if (leaks(from, mid)) to = mid;
            else from = mid;
        }
        const std::string path = SaveFinding(options_, "leak", recent[from].first, recent[from].second);
        fs::remove_all(folder);
        std::fprintf(stderr, "pixhold_fuzz: FINDING: input leaks memory (replay it for the report); saved as %s\n",
                     path.c_str());
    }

private:
    const TOptions& options_;
    const TTarget& target_;
    TStats stats_;
    bool warmingUp_ = false;
};

std::vector<TInput> LoadSeeds(const TOptions& o, const TTarget& target) {
    std::vector<TInput> seeds;
    std::size_t fixtures = 0, corpus = 0;
    if (o.Fixtures) {
        for (const fs::path& file : FilesUnder(fs::path(PIXHOLD_SOURCE_DIR) / "tests/imaging/fixtures")) {
            const std::string ext = Lower(file.extension().string());
            if (std::find(target.Extensions.begin(), target.Extensions.end(), ext) == target.Extensions.end()) continue;
            seeds.push_back(ReadFile(file));
            ++fixtures;
        }
    }
    for (const std::string& folder : o.Corpus) {
        for (const fs::path& file : FilesUnder(folder)) {
            seeds.push_back(ReadFile(file));
            ++corpus;
        }
    }
    std::vector<TInput> made = GeneratedSeeds(o.Target);
    const std::size_t generated = made.size();
    seeds.insert(seeds.end(), made.begin(), made.end());
    std::printf("seeds: %zu fixture files, %zu corpus files, %zu made in code\n", fixtures, corpus, generated);
    return seeds;
}

int Replay(const TOptions& o, const TTarget& target) {
    TFuzzer fuzzer(o, target);
    for (const std::string& file : o.Replay) {
        const TInput input = ReadFile(file);
        TOutcome outcome;
        if (!fuzzer.Run(input, &outcome, static_cast<std::int64_t>(&file - o.Replay.data()))) return 1;
        std::printf("%s (%zu bytes):\n%s", file.c_str(), input.size(), outcome.Signature.c_str());
    }
    return 0;
}

// The fuzzing itself, in the child process.
int Fuzz(const TOptions& options, const TTarget& target) {
    std::vector<TInput> pool = LoadSeeds(options, target);
    if (pool.empty()) {
        std::fprintf(stderr, "pixhold_fuzz: no seed inputs for %s\n", target.Name);
        return 2;
    }
    std::size_t largest = 0;
    for (const TInput& s : pool) largest = std::max(largest, s.size());
    const TMutator mutator(std::clamp<std::size_t>(2 * largest, 64 * 1024, MaxInputSize));
    const std::size_t seedCount = pool.size();
    constexpr std::size_t PoolLimit = 2000;

    TFuzzer fuzzer(options, target);
    const auto start = Clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    const auto timeIsUp = [] {
        const std::int64_t deadline = g_shared ? g_shared->DeadlineNs.load() : 0;
        return deadline != 0 && MonotonicNs() >= deadline;
    };

    // The seeds once as they are; the first use of a library may be slow
    // (fonts, tables), so the limit is ten times wider here.
    SetLimit(10 * options.TimeLimitMs);
    fuzzer.SetWarmingUp(true);
    TFuzzer::TRecent recent;  // since the last leak check
    std::size_t seedsAccepted = 0;
    std::vector<bool> dropped(seedCount, false);  // seeds that gave a finding are no base for mutations
    for (std::size_t i = 0; i < seedCount; ++i) {
        TOutcome outcome;
        const std::int64_t id = -1 - static_cast<std::int64_t>(i);
        if (SkippedSeed(id) || !fuzzer.Run(pool[i], &outcome, id)) {
            if (!options.KeepGoing && !SkippedSeed(id)) return 1;
            dropped[i] = true;
            continue;
        }
        fuzzer.NewOutcome(outcome);
        if (outcome.Accepted > 0) ++seedsAccepted;
#if defined(PIXHOLD_FUZZ_SANITIZED)
        recent.emplace_back(id, pool[i]);
#endif
    }
    fuzzer.SetWarmingUp(false);
    SetLimit(options.TimeLimitMs);
    for (std::size_t i = seedCount; i-- > 0;) {
        if (dropped[i]) pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(i));
    }
    const std::size_t baseCount = pool.size();
    if (pool.empty()) {
        std::fprintf(stderr, "pixhold_fuzz: every seed gave a finding\n");
        return 1;
    }
    std::printf("seeds decoded by at least one call: %zu of %zu\n", seedsAccepted, seedCount);
    const std::uint64_t first = g_shared ? g_shared->FirstInput.load() : 0;
    if (first) std::printf("going on from input %llu\n", static_cast<unsigned long long>(first));
    double nextReport = 60;
    for (std::uint64_t i = first;; ++i) {
        if (options.Runs && i >= options.Runs) break;
        if ((i & 15) == 0 && timeIsUp()) break;
        if ((i & 1023) == 0 && elapsed() >= nextReport) {  // a sign of life in long runs
            std::printf("progress: input %llu, %.0f s, %zu distinct outcomes\n", static_cast<unsigned long long>(i),
                        elapsed(), fuzzer.Stats().Signatures.size());
            nextReport += 60;
        }
        // Each input depends on the seed and its number only.
        TRandom random(options.Seed * 0x100000001B3ull + i);
        const TInput& base = pool[random.Below(pool.size())];
        const TInput& other = pool[random.Below(pool.size())];
        TInput input = mutator.Mutate(base, other, random);
        if (target.Mend && !random.OneIn(8)) target.Mend(input);  // now and then left broken
        TOutcome outcome;
        const auto id = static_cast<std::int64_t>(i);
        if (!fuzzer.Run(input, &outcome, id)) {
            if (!options.KeepGoing) break;
            continue;
        }
        if (fuzzer.NewOutcome(outcome)) {
            if (pool.size() < PoolLimit) pool.push_back(input);
            else pool[baseCount + random.Below(PoolLimit - baseCount)] = input;
        }
#if defined(PIXHOLD_FUZZ_SANITIZED)
        recent.emplace_back(id, std::move(input));
        if (recent.size() >= 1000) {
            if (__lsan_do_recoverable_leak_check()) {
                // Every later check would report the same leak again.
                fuzzer.FindLeak(recent);
                recent.clear();
                break;
            }
            recent.clear();
        }
#endif
    }
#if defined(PIXHOLD_FUZZ_SANITIZED)
    if (!recent.empty() && __lsan_do_recoverable_leak_check()) fuzzer.FindLeak(recent);
#endif
    const bool found = fuzzer.Stats().Findings > 0;

    const TStats& s = fuzzer.Stats();
    const double seconds = elapsed();
    std::printf("target %s, seed %llu: %llu inputs in %.1f s (%.0f/s); pool %zu (%zu seeds); %zu distinct outcomes\n",
                target.Name, static_cast<unsigned long long>(options.Seed), static_cast<unsigned long long>(s.Runs),
                seconds, seconds > 0 ? static_cast<double>(s.Runs) / seconds : 0.0, pool.size(), seedCount,
                s.Signatures.size());
    std::printf("calls: %llu decoded, %llu refused with EInvalidGraphic, %llu other std::exception\n",
                static_cast<unsigned long long>(s.Accepted), static_cast<unsigned long long>(s.Rejected),
                static_cast<unsigned long long>(s.Other));
    for (const auto& [message, count] : s.OtherMessages) {
        std::printf("  other exception x%llu: %s\n", static_cast<unsigned long long>(count), message.c_str());
    }
    if (found) std::printf("FINDINGS: %llu, see above\n", static_cast<unsigned long long>(s.Findings));
    else std::printf("no findings\n");
    return found ? 1 : 0;
}

// Metafile text and drawing need a GUI application; no display is used.
std::unique_ptr<QGuiApplication> StartQt(char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int qtArgc = 1;
    return std::make_unique<QGuiApplication>(qtArgc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    const TOptions options = Parse(argc, argv);
    const TTarget* target = FindTarget(options.Target);
    if (!target) Usage(("unknown target " + options.Target).c_str());
    std::error_code ec;
    fs::create_directories(options.Out, ec);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    if (!options.Replay.empty()) {
        const auto app = StartQt(argv);
        return Replay(options, *target);
    }
    if (!options.DumpSeeds.empty()) {
        const auto app = StartQt(argv);
        fs::create_directories(options.DumpSeeds, ec);
        const std::vector<TInput> made = GeneratedSeeds(options.Target);
        const std::string ext = target->Extensions.empty() ? ".bin" : target->Extensions[0];
        for (std::size_t i = 0; i < made.size(); ++i) {
            const fs::path path = fs::path(options.DumpSeeds) / (options.Target + "-" + std::to_string(i) + ext);
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(made[i].data()),
                                                         static_cast<std::streamsize>(made[i].size()));
        }
        std::printf("%zu seeds written to %s\n", made.size(), options.DumpSeeds.c_str());
        return 0;
    }

    // Shared with the child before it exists; fork before Qt starts any thread.
    void* shared = ::mmap(nullptr, sizeof(TShared) + MaxInputSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                          -1, 0);
    if (shared == MAP_FAILED) {
        std::perror("pixhold_fuzz: mmap");
        return 2;
    }
    g_shared = new (shared) TShared{};
    SetLimit(options.TimeLimitMs);
    if (options.MaxSeconds > 0) {
        g_shared->DeadlineNs.store(MonotonicNs() + static_cast<std::int64_t>(options.MaxSeconds * 1e9));
    }
    int worst = 0;
    for (;;) {
        const pid_t child = ::fork();
        if (child < 0) {
            std::perror("pixhold_fuzz: fork");
            return 2;
        }
        if (child == 0) break;
        std::int64_t next = -1;
        const int code = Watch(child, options, next);
        worst = std::max(worst, code);
        const std::int64_t deadline = g_shared->DeadlineNs.load();
        if (!options.KeepGoing || next < 0 || (options.Runs && static_cast<std::uint64_t>(next) >= options.Runs) ||
            (deadline != 0 && MonotonicNs() >= deadline)) {
            if (options.KeepGoing) {
                std::printf("findings in the whole run: %llu\n",
                            static_cast<unsigned long long>(g_shared->Findings.load()));
            }
            return worst;
        }
        // A new child goes on after the input that ended the last one.
        g_shared->FirstInput.store(static_cast<std::uint64_t>(next));
        g_shared->Running.store(0);
        g_shared->Finished.store(0);
    }

    int code = 0;
    {
        const auto app = StartQt(argv);
        code = Fuzz(options, *target);
    }
    g_shared->Finished.store(1);
    return code;
}

