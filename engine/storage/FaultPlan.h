#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace pixhold::engine {

enum class FileOp : int { Read = 0, Write = 1, Flush = 2 };

// A plan of faults for tests: which reads, writes and flushes of the files the
// plan covers fail, and how. Installed process-wide with TFileList::SetFaultPlan
// (or ScopedFaultPlan), it is consulted by every file, physical and in-memory,
// at every operation, so files already open are covered too.
//
// Operations are counted from 1 per kind over all covered files together. With
// no faults set the plan only counts, which is how a test learns how many
// writes an operation makes before it fails each of them in turn:
//
//     auto plan = std::make_shared<TFaultPlan>(".Idx");
//     plan->FailNth(FileOp::Write, 7);    // the 7th write to any *.Idx fails
class TFaultPlan {
public:
    // Covers the files whose name ends with suffix (without regard to letter
    // case); an empty suffix covers every file.
    explicit TFaultPlan(std::string suffix = {});

    // The n-th operation of that kind fails outright (nothing is transferred).
    void FailNth(FileOp op, std::uint64_t n);
    // The n-th operation of that kind and every later one fail outright, as
    // when the process ended there (a test of a crash runs on until it ends).
    void FailFrom(FileOp op, std::uint64_t n);
    // The n-th write transfers only the first `bytes` bytes and reports that.
    void ShortWriteNth(std::uint64_t n, std::size_t bytes);
    // After `bytes` bytes have been written in all, the disk is full: a write
    // stores what still fits and reports it, later writes fail.
    void DiskFullAfter(std::uint64_t bytes);

    std::uint64_t Count(FileOp op) const;
    std::uint64_t BytesWritten() const;
    // How many faults the plan has caused so far.
    std::uint64_t FaultsInjected() const;
    bool Covers(const std::string& fileName) const;

    // Called by the files. Returns false when the operation is to fail.
    bool OnRead();
    bool OnFlush();
    // Returns the number of bytes the write may transfer (at most count; less
    // is a short write), or -1 when the write is to fail outright. A write of 0
    // bytes (a truncation) counts as a write too.
    std::int64_t OnWrite(std::size_t count);

private:
    bool Fails(FileOp op, std::uint64_t n) const;

    std::string suffix_;
    mutable std::mutex mutex_;
    std::uint64_t counts_[3] = {0, 0, 0};
    std::uint64_t failAt_[3] = {0, 0, 0};
    std::uint64_t failFrom_[3] = {0, 0, 0};
    std::uint64_t shortWriteAt_ = 0;
    std::size_t shortWriteBytes_ = 0;
    bool diskLimited_ = false;
    std::uint64_t diskLimit_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t faults_ = 0;
};

// Installs a plan for the lifetime of the object and removes it afterwards.
class ScopedFaultPlan {
public:
    explicit ScopedFaultPlan(std::shared_ptr<TFaultPlan> plan);
    ~ScopedFaultPlan();
    ScopedFaultPlan(const ScopedFaultPlan&) = delete;
    ScopedFaultPlan& operator=(const ScopedFaultPlan&) = delete;
    TFaultPlan& operator*() const { return *plan_; }
    TFaultPlan* operator->() const { return plan_.get(); }

private:
    std::shared_ptr<TFaultPlan> plan_;
};

}  // namespace pixhold::engine
