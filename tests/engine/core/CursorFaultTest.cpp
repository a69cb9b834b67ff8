// Read failures under a cursor: the error reaches the caller, the read lock
// the operation took is given back, and the cursor goes on working.

#include <gtest/gtest.h>

#include "CursorTestSupport.h"
#include "EngineError.h"
#include "FaultPlan.h"

namespace pixhold::engine {
namespace {

using namespace cursortest;

std::string Name(int i) { return "n" + std::to_string(1000 + i); }

std::vector<std::string> Walk(TDataCursor& c) {
    std::vector<std::string> names;
    c.SetToBegin();
    while (c.GetNextRecord(nullptr) == 0) names.push_back(Current(c).name);
    return names;
}

TEST(CursorFault, AFailedReadInAWalkIsReportedAndLeavesNoLockBehind) {
    for (const char* suffix : {".IDX", ".DAT"}) {
        SCOPED_TRACE(suffix);
        CursorFixture fx;
        for (int i = 0; i < 500; ++i) fx.Append(Name(i), i % 9, "");
        auto cursor = fx.Open("ByNum");
        const std::vector<std::string> expected = Walk(*cursor);
        ASSERT_EQ(expected.size(), 500u);

        std::uint64_t reads = 0;
        {
            // Two cached pages per index: a walk reads most pages again.
            ScopedFaultPlan plan(std::make_shared<TFaultPlan>(suffix));
            Walk(*cursor);
            reads = plan->Count(FileOp::Read);
        }
        ASSERT_GT(reads, 0u);
        for (std::uint64_t n = 1; n <= reads; n += std::max<std::uint64_t>(1, reads / 12)) {
            SCOPED_TRACE(n);
            int code = 0;
            {
                auto faults = std::make_shared<TFaultPlan>(suffix);
                faults->FailNth(FileOp::Read, n);
                ScopedFaultPlan plan(faults);
                try {
                    Walk(*cursor);
                } catch (const ECofferEngineError& e) {
                    code = e.ErrorCode();
                }
            }
            EXPECT_EQ(code, err::ReadError);
            EXPECT_FALSE(cursor->Table().ReadLockHeld());
            EXPECT_EQ(Walk(*cursor), expected);
            EXPECT_EQ(cursor->GetRecordCount(), 500u);
        }
    }
}

TEST(CursorFault, AFailedReadWhileOpeningClosesTheCursorAgain) {
    CursorFixture fx;
    for (int i = 0; i < 50; ++i) fx.Append(Name(i), i, "");
    // Let the files close so that the open reads them again.
    fx.ReleaseWriter();
    std::uint64_t reads = 0;
    {
        ScopedFaultPlan plan(std::make_shared<TFaultPlan>());
        auto cursor = fx.Open();
        reads = plan->Count(FileOp::Read);
    }
    ASSERT_GT(reads, 0u);
    for (std::uint64_t n = 1; n <= reads; ++n) {
        SCOPED_TRACE(n);
        TDataCursor cursor(fx.Directory());
        cursor.TableName = fx.TableName;
        int code = 0;
        {
            auto faults = std::make_shared<TFaultPlan>();
            faults->FailNth(FileOp::Read, n);
            ScopedFaultPlan plan(faults);
            try {
                cursor.OpenCursor();
            } catch (const ECofferEngineError& e) {
                code = e.ErrorCode();
            }
        }
        EXPECT_NE(code, 0);
        EXPECT_FALSE(cursor.IsOpen());
        EXPECT_EQ(fx.Directory().FindTable(fx.TableName, false), nullptr);
        // The next open, without faults, works.
        cursor.OpenCursor();
        EXPECT_EQ(cursor.GetRecordCount(), 50u);
        cursor.CloseCursor();
    }
}

}  // namespace
}  // namespace pixhold::engine
