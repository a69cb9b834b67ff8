#include "FaultPlan.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "FileList.h"

namespace pixhold::engine {

TFaultPlan::TFaultPlan(std::string suffix) : suffix_(std::move(suffix)) {}

void TFaultPlan::FailNth(FileOp op, std::uint64_t n) {
    std::lock_guard lock(mutex_);
    failAt_[static_cast<int>(op)] = n;
}

void TFaultPlan::FailFrom(FileOp op, std::uint64_t n) {
    std::lock_guard lock(mutex_);
    failFrom_[static_cast<int>(op)] = n;
}

bool TFaultPlan::Fails(FileOp op, std::uint64_t n) const {
    const int i = static_cast<int>(op);
    return n == failAt_[i] || (failFrom_[i] != 0 && n >= failFrom_[i]);
}

void TFaultPlan::ShortWriteNth(std::uint64_t n, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    shortWriteAt_ = n;
    shortWriteBytes_ = bytes;
}

void TFaultPlan::DiskFullAfter(std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    diskLimited_ = true;
    diskLimit_ = bytes;
}

std::uint64_t TFaultPlan::Count(FileOp op) const {
    std::lock_guard lock(mutex_);
    return counts_[static_cast<int>(op)];
}

std::uint64_t TFaultPlan::BytesWritten() const {
    std::lock_guard lock(mutex_);
    return written_;
}

std::uint64_t TFaultPlan::FaultsInjected() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

bool TFaultPlan::Covers(const std::string& fileName) const {
    if (suffix_.empty()) return true;
    if (fileName.size() < suffix_.size()) return false;
    const auto tail = icu::UnicodeString::fromUTF8(fileName.substr(fileName.size() - suffix_.size()));
    return tail.caseCompare(icu::UnicodeString::fromUTF8(suffix_), U_FOLD_CASE_DEFAULT) == 0;
}

bool TFaultPlan::OnRead() {
    std::lock_guard lock(mutex_);
    const auto n = ++counts_[static_cast<int>(FileOp::Read)];
    if (Fails(FileOp::Read, n)) {
        ++faults_;
        return false;
    }
    return true;
}

bool TFaultPlan::OnFlush() {
    std::lock_guard lock(mutex_);
    const auto n = ++counts_[static_cast<int>(FileOp::Flush)];
    if (Fails(FileOp::Flush, n)) {
        ++faults_;
        return false;
    }
    return true;
}

std::int64_t TFaultPlan::OnWrite(std::size_t count) {
    std::lock_guard lock(mutex_);
    const auto n = ++counts_[static_cast<int>(FileOp::Write)];
    if (Fails(FileOp::Write, n)) {
        ++faults_;
        return -1;
    }
    std::size_t allowed = count;
    if (n == shortWriteAt_ && shortWriteBytes_ < allowed) allowed = shortWriteBytes_;
    if (diskLimited_) {
        const std::uint64_t room = written_ >= diskLimit_ ? 0 : diskLimit_ - written_;
        if (room < allowed) allowed = static_cast<std::size_t>(room);
        if (allowed == 0 && count > 0) {
            ++faults_;
            return -1;
        }
    }
    if (allowed < count) ++faults_;
    written_ += allowed;
    return static_cast<std::int64_t>(allowed);
}

ScopedFaultPlan::ScopedFaultPlan(std::shared_ptr<TFaultPlan> plan) : plan_(std::move(plan)) {
    FileList().SetFaultPlan(plan_);
}

ScopedFaultPlan::~ScopedFaultPlan() { FileList().SetFaultPlan(nullptr); }

}  // namespace pixhold::engine
