#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pixhold::engine {

class TDataDirectory;

// When a record is locked during editing.
enum class TLockProtocol : std::uint8_t { lpPessimistic = 0, lpOptimistic = 1 };

// The cache sizes the table files use.
struct TBufferLimits {
    std::uint32_t dataBufferBytes = 16384;
    std::uint32_t dataBufferRecords = 8192;
    std::uint32_t indexBufferBytes = 16384;
    std::uint32_t blobBufferBytes = 32768;
    std::uint32_t blobBufferBlocks = 8192;

    bool operator==(const TBufferLimits&) const = default;
};

// One engine session: its settings, the passwords it knows and the data
// directories it has open. A session is used by one thread at a time (the
// dataset layer serialises every call); it owns its directories.
class TDataSession {
public:
    TDataSession();
    ~TDataSession();
    TDataSession(const TDataSession&) = delete;
    TDataSession& operator=(const TDataSession&) = delete;

    // ---- directories ----
    // The shared directory object of a folder (trimmed, trailing separator;
    // DefaultDir() when empty, no path at all for the name "Memory"), with its
    // use count raised. Folders match trimmed and without regard to case.
    TDataDirectory* OpenDataDirectory(const std::string& name, const std::string& directory);
    // Lowers the use count; the last close frees the directory (rolling back
    // its transaction and closing its tables). Unknown directories are ignored.
    void CloseDataDirectory(TDataDirectory* directory);
    std::size_t DirectoryCount() const { return directories_.size(); }

    // ---- passwords (compared exactly) ----
    void AddPassword(const std::string& password);
    void RemovePassword(const std::string& password);
    void RemoveAllPasswords();
    bool HasPassword(const std::string& password) const;
    std::size_t PasswordCount() const { return passwords_.size(); }

    // ---- folders ----
    // The current folder of the process when the session was made.
    const std::string& DefaultDir() const { return defaultDir_; }
    void SetPrivateDir(const std::string& path);
    // The private folder, or DefaultDir() when it is empty.
    std::string GetPrivateDir() const;

    // ---- settings ----
    std::int16_t ProgressSteps() const { return progressSteps_; }
    void SetProgressSteps(std::int16_t value) { progressSteps_ = value; }
    bool ForceBufferFlush() const { return forceBufferFlush_; }
    void SetForceBufferFlush(bool value) { forceBufferFlush_ = value; }
    bool StrictChangeDetection() const { return strictChangeDetection_; }
    void SetStrictChangeDetection(bool value) { strictChangeDetection_ = value; }
    std::uint8_t LockRetryCount() const { return lockRetryCount_; }
    void SetLockRetryCount(std::uint8_t value) { lockRetryCount_ = value; }
    // Milliseconds between two attempts of a record lock.
    std::int16_t LockWaitTime() const { return lockWaitTime_; }
    void SetLockWaitTime(std::int16_t value) { lockWaitTime_ = value; }
    TLockProtocol LockProtocol() const { return lockProtocol_; }
    void SetLockProtocol(TLockProtocol value) { lockProtocol_ = value; }
    const TBufferLimits& BufferLimits() const { return bufferLimits_; }
    void SetBufferLimits(const TBufferLimits& value) { bufferLimits_ = value; }
    // Remote sessions are not supported by this engine; the flag stays false.
    bool Remote() const { return false; }

private:
    std::vector<std::unique_ptr<TDataDirectory>> directories_;
    std::string defaultDir_;
    std::string privateDir_;
    std::int16_t progressSteps_ = 20;
    std::vector<std::string> passwords_;
    bool forceBufferFlush_ = false;
    bool strictChangeDetection_ = false;
    std::uint8_t lockRetryCount_ = 15;
    std::int16_t lockWaitTime_ = 100;
    TLockProtocol lockProtocol_ = TLockProtocol::lpPessimistic;
    TBufferLimits bufferLimits_;
};

}  // namespace pixhold::engine
