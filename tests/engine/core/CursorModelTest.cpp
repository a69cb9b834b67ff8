// Every navigation result of a cursor over random tables, indexes, ranges and
// filters, checked against a sorted copy of the records.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "CursorTestSupport.h"
#include "EngineError.h"

namespace pixhold::engine {
namespace {

using namespace cursortest;

const std::string kPhysical = "<physical>";

int Sign(int v) { return (v > 0) - (v < 0); }

template <typename T>
int Cmp(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

std::string Padded(const std::string& s, std::size_t n) {
    std::string p = s;
    p.resize(n, '\0');
    return p;
}

bool CatFirst(const std::string& index) { return index == "ByCatNum" || index == "CatNumPlain"; }
int FieldCount(const std::string& index) { return CatFirst(index) ? 2 : 1; }

// Compares field `f` of two rows as the named index orders it.
int CompareField(const std::string& index, int f, const Row& a, const Row& b) {
    if (index.empty()) return Cmp(a.name, b.name);
    if (index == "ByNum") return Cmp(a.num, b.num);
    if (index == "NumDown") return -Cmp(a.num, b.num);
    if (f == 0) return Cmp(std::make_pair(!a.cat.empty(), a.cat), std::make_pair(!b.cat.empty(), b.cat));
    return Cmp(a.num, b.num);
}

// The first `fields` fields (0: all), then `partial` characters of the next one.
int ComparePrefix(const std::string& index, const Row& a, const Row& b, int fields, int partial = 0) {
    const int n = fields == 0 && partial == 0 ? FieldCount(index) : fields;
    for (int f = 0; f < n; ++f)
        if (const int c = CompareField(index, f, a, b)) return c;
    if (partial > 0 && index.empty())
        return Sign(Padded(a.name, 13).compare(0, static_cast<std::size_t>(partial) + 0, Padded(b.name, 13), 0,
                                               static_cast<std::size_t>(partial)));
    return 0;
}

struct Bound {
    Row row;
    int fields = 0;
};

// What the cursor should show for one index, range and filter.
struct Expected {
    std::vector<Row> inRange;  // every row of the range in index order
    std::vector<Row> visible;  // those the filter lets through
    std::set<std::uint32_t> hidden;
};

class CursorModel : public ::testing::TestWithParam<unsigned> {
protected:
    std::mt19937 rng{GetParam()};

    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    std::string RandomName() {
        std::string s;
        const int n = Uniform(1, 6);
        for (int i = 0; i < n; ++i) s += static_cast<char>('a' + Uniform(0, 5));
        return s;
    }
    std::string RandomCat() {
        static const char* cats[] = {"", "a", "b", "cc", "d"};
        return cats[Uniform(0, 4)];
    }
    Row RandomRow() { return Row{0, 0, RandomName(), Uniform(-25, 25), RandomCat()}; }

    void Fill(CursorFixture& fx, int count) {
        std::set<std::string> names;
        for (int i = 0; i < count; ++i) {
            Row r = RandomRow();
            if (!names.insert(r.name).second) continue;
            fx.Append(r.name, r.num, r.cat);
        }
        // Deleted records leave gaps in physical order and slots to reuse.
        std::vector<Row> rows = fx.Rows();
        std::shuffle(rows.begin(), rows.end(), rng);
        for (std::size_t i = 0; i < rows.size() / 5; ++i) {
            fx.Delete(rows[i].number);
            names.erase(rows[i].name);
        }
        for (int i = 0; i < count / 10; ++i) {
            Row r = RandomRow();
            if (names.insert(r.name).second) fx.Append(r.name, r.num, r.cat);
        }
    }

    static Expected Compute(const CursorFixture& fx, const std::string& index, const Bound* low, const Bound* high,
                            const std::set<std::uint32_t>& hidden) {
        Expected e;
        e.hidden = hidden;
        for (const Row& r : fx.Sorted(index)) {
            if (low != nullptr && ComparePrefix(index, r, low->row, low->fields) < 0) continue;
            if (high != nullptr && ComparePrefix(index, r, high->row, high->fields) > 0) continue;
            e.inRange.push_back(r);
            if (!hidden.count(r.number)) e.visible.push_back(r);
        }
        return e;
    }

    void CheckMoves(TDataCursor& c, const std::string& index, const Expected& e) {
        const bool physical = index == kPhysical;
        const bool filtered = !e.hidden.empty();
        auto recordNo = [&](const Row& r) -> std::uint32_t {
            const std::vector<Row>& list = physical ? e.visible : e.inRange;
            const auto it = std::find_if(list.begin(), list.end(), [&](const Row& x) { return x.number == r.number; });
            return static_cast<std::uint32_t>(it - list.begin()) + 1;
        };
        ASSERT_EQ(c.GetRecordCount(), (filtered || physical ? e.visible : e.inRange).size());

        // Forward, with record numbers and bookmarks on the way.
        std::vector<TBookmark> marks;
        c.SetToBegin();
        ASSERT_EQ(c.GetRecordNo(), 0u);
        for (const Row& expected : e.visible) {
            ASSERT_EQ(c.GetNextRecord(nullptr), 0);
            const Row got = Current(c);
            ASSERT_EQ(got, expected) << got.name << " for " << expected.name;
            ASSERT_EQ(c.GetRecordNo(), recordNo(expected));
            marks.push_back(c.GetBookmark());
        }
        std::vector<std::uint8_t> buffer(c.RecordSize(), 0x55);
        ASSERT_EQ(c.GetNextRecord(buffer.data()), err::EndOfTable);
        ASSERT_EQ(buffer, std::vector<std::uint8_t>(c.RecordSize(), 0));
        ASSERT_EQ(c.GetCurrentRecord(nullptr), e.visible.empty() ? err::NoCurrentRecord : err::EndOfTable);
        // Back again from the end.
        c.SetToEnd();
        for (auto it = e.visible.rbegin(); it != e.visible.rend(); ++it) {
            ASSERT_EQ(c.GetPriorRecord(nullptr), 0);
            ASSERT_EQ(Current(c), *it);
        }
        ASSERT_EQ(c.GetPriorRecord(nullptr), err::BeginningOfTable);
        ASSERT_EQ(c.GetCurrentRecord(nullptr), e.visible.empty() ? err::NoCurrentRecord : err::BeginningOfTable);
        // Off the end and back turns round at the last record.
        if (!e.visible.empty()) {
            c.SetToEnd();
            ASSERT_EQ(c.GetNextRecord(nullptr), err::EndOfTable);
            ASSERT_EQ(c.GetPriorRecord(nullptr), 0);
            ASSERT_EQ(Current(c), e.visible.back());
        }

        // Bookmarks lead back and compare in index order.
        for (int i = 0; i < 10 && !marks.empty(); ++i) {
            const std::size_t a = static_cast<std::size_t>(Uniform(0, static_cast<int>(marks.size()) - 1));
            const std::size_t b = static_cast<std::size_t>(Uniform(0, static_cast<int>(marks.size()) - 1));
            ASSERT_EQ(c.CompareBookmarks(marks[a], marks[b]), Sign(static_cast<int>(a) - static_cast<int>(b)));
            c.SetToEnd();
            ASSERT_TRUE(c.SetToBookmark(marks[a], false));
            ASSERT_EQ(Current(c), e.visible[a]);
        }

        // Going to a record number: all of them, and one beyond each end.
        const std::vector<Row>& numbered = physical ? e.visible : e.inRange;
        for (std::int64_t n = 0; n <= static_cast<std::int64_t>(numbered.size()) + 1; ++n) {
            const bool reached = c.SetToRecordNo(n);
            if (n < 1 || n > static_cast<std::int64_t>(numbered.size())) {
                ASSERT_FALSE(reached) << n;
                ASSERT_EQ(Current(c).name, "");
                ASSERT_TRUE(c.AtBottom() || c.AtTop());
                ASSERT_EQ(c.AtBottom(), n < 1 || e.visible.empty());
                continue;
            }
            const Row& target = numbered[static_cast<std::size_t>(n - 1)];
            if (!e.hidden.count(target.number)) {
                ASSERT_TRUE(reached) << n;
                ASSERT_EQ(Current(c), target);
                ASSERT_EQ(c.GetRecordNo(), static_cast<std::uint32_t>(n));
                continue;
            }
            // Hidden: the next visible record, or at the end the previous one.
            ASSERT_FALSE(reached) << n;
            const Row* want = nullptr;
            for (auto i = static_cast<std::size_t>(n); i < numbered.size() && want == nullptr; ++i)
                if (!e.hidden.count(numbered[i].number)) want = &numbered[i];
            for (auto i = static_cast<std::size_t>(n - 1); i-- > 0 && want == nullptr;)
                if (!e.hidden.count(numbered[i].number)) want = &numbered[i];
            ASSERT_EQ(Current(c).name, want == nullptr ? "" : want->name) << n;
        }
    }

    void CheckFindKey(TDataCursor& c, const std::string& index, const Expected& e) {
        for (int i = 0; i < 25; ++i) {
            const Row probe = RandomRow();
            int fields = Uniform(0, FieldCount(index));
            int partial = 0;
            if (index.empty() && Uniform(0, 2) == 0) {
                fields = 0;
                partial = Uniform(1, 4);
            }
            const auto image = RecordImage(c, probe.name, probe.num, probe.cat);
            std::vector<std::uint8_t> out(c.RecordSize());
            const bool found = c.FindKey(false, image.data(), out.data(), fields, partial, Uniform(0, 1) == 1);
            const Row* want = nullptr;
            for (const Row& r : e.visible) {
                if (ComparePrefix(index, r, probe, fields, partial) >= 0) {
                    want = &r;
                    break;
                }
            }
            if (want == nullptr && !e.visible.empty()) want = &e.visible.back();
            SCOPED_TRACE("probe " + probe.name + " " + std::to_string(probe.num) + " " + probe.cat + " fields " +
                         std::to_string(fields) + " partial " + std::to_string(partial));
            if (want == nullptr) {
                ASSERT_FALSE(found);
                ASSERT_EQ(Current(c).name, "");
                continue;
            }
            ASSERT_EQ(found, ComparePrefix(index, *want, probe, fields, partial) == 0);
            ASSERT_EQ(Current(c), *want);
            ASSERT_EQ(RowOf(c, out), *want);
        }
    }

    void CheckOtherCursors(CursorFixture& fx, TDataCursor& c, const Expected& e) {
        const std::vector<Row>& rows = fx.Rows();
        if (rows.empty()) return;
        const std::vector<std::string> names = IndexNames();
        auto other = fx.Open(names[static_cast<std::size_t>(Uniform(0, static_cast<int>(names.size()) - 1))]);
        for (int i = 0; i < 5; ++i) {
            const Row& target = rows[static_cast<std::size_t>(Uniform(0, static_cast<int>(rows.size()) - 1))];
            other->SetToBegin();
            while (other->GetNextRecord(nullptr) == 0 && other->CurrentRecordNumber() != target.number) {
            }
            const bool shown = std::any_of(e.visible.begin(), e.visible.end(),
                                           [&](const Row& r) { return r.number == target.number; });
            ASSERT_EQ(c.SetToCursor(*other), shown ? 0 : err::RecordNotFound);
            if (shown) {
                ASSERT_EQ(Current(c), target);
            }
        }
        // A clone stands where its source stands and sees the same records.
        if (e.visible.empty()) return;
        const std::size_t at = static_cast<std::size_t>(Uniform(0, static_cast<int>(e.visible.size()) - 1));
        c.SetToBegin();
        for (std::size_t i = 0; i <= at; ++i) (void)c.GetNextRecord(nullptr);
        auto clone = c.CloneCursor();
        ASSERT_EQ(Current(*clone), e.visible[at]);
        ASSERT_EQ(clone->GetRecordCount(), c.GetRecordCount());
        ASSERT_EQ(clone->GetRecordNo(), c.GetRecordNo());
        for (std::size_t i = at + 1; i < e.visible.size(); ++i) {
            ASSERT_EQ(clone->GetNextRecord(nullptr), 0);
            ASSERT_EQ(Current(*clone), e.visible[i]);
        }
        ASSERT_EQ(clone->GetNextRecord(nullptr), err::EndOfTable);
    }

    Bound RandomBound(const std::string& index) {
        Bound b{RandomRow(), Uniform(0, FieldCount(index))};
        return b;
    }
};

TEST_P(CursorModel, NavigationMatchesASortedCopy) {
    const bool withPrimary = GetParam() % 3 != 0;
    CursorFixture fx(withPrimary);
    Fill(fx, Uniform(0, 1) == 0 ? Uniform(0, 40) : Uniform(300, 900));
    auto cursor = fx.Open();

    std::vector<std::string> indexes = IndexNames();
    if (!withPrimary) indexes[0] = kPhysical;
    for (const std::string& index : indexes) {
        cursor->SetIndexName(index == kPhysical ? "" : index);
        ASSERT_EQ(cursor->PhysicalOrder(), index == kPhysical);
        for (int trial = 0; trial < 4; ++trial) {
            std::ostringstream trace;
            trace << "seed " << GetParam() << " index '" << index << "' trial " << trial;
            SCOPED_TRACE(trace.str());
            std::optional<Bound> low, high;
            if (trial > 0 && index != kPhysical) {
                if (Uniform(0, 3) > 0) low = RandomBound(index);
                if (Uniform(0, 3) > 0) high = RandomBound(index);
                const auto lowImage = low ? RecordImage(*cursor, low->row.name, low->row.num, low->row.cat)
                                          : std::vector<std::uint8_t>{};
                const auto highImage = high ? RecordImage(*cursor, high->row.name, high->row.num, high->row.cat)
                                            : std::vector<std::uint8_t>{};
                cursor->SetRange(false, low ? lowImage.data() : nullptr, low ? low->fields : 0,
                                 high ? highImage.data() : nullptr, high ? high->fields : 0);
            }
            std::set<std::uint32_t> hidden;
            TFilter* filter = nullptr;
            if (trial >= 2) {
                for (const Row& r : fx.Rows())
                    if (Uniform(0, 2) == 0) hidden.insert(r.number);
                filter = cursor->AddFilter(std::make_unique<HideRecords>(hidden));
                cursor->ActivateFilter(filter);
            }
            const Expected e = Compute(fx, index, low ? &*low : nullptr, high ? &*high : nullptr, hidden);
            CheckMoves(*cursor, index, e);
            if (HasFatalFailure()) return;
            if (index != kPhysical) CheckFindKey(*cursor, index, e);
            if (HasFatalFailure()) return;
            CheckOtherCursors(fx, *cursor, e);
            if (HasFatalFailure()) return;
            if (filter != nullptr) cursor->DropFilter(filter);
            cursor->ResetRange();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(CursorSeeds, CursorModel, ::testing::Range(1u, 13u));

}  // namespace
}  // namespace pixhold::engine
