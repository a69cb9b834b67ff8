#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "EngineError.h"
#include "FileHandler.h"

namespace pixhold::engine::test {

// Runs fn and returns the engine error code it raised (0 for none).
template <typename Fn>
int CodeOf(Fn fn) {
    try {
        fn();
    } catch (const ECofferEngineError& e) {
        return e.ErrorCode();
    }
    return 0;
}

// Writes `data` at `offset` as the table files do: under the access lock.
inline void WriteAt(TFileHandler& file, std::int64_t offset, const std::string& data) {
    FileAccessGuard guard(file);
    file.SeekFile(SeekOrigin::Begin, offset);
    file.WriteBuffer(data.data(), data.size());
}

// Up to count bytes from offset.
inline std::string ReadAt(TFileHandler& file, std::int64_t offset, std::size_t count) {
    FileAccessGuard guard(file);
    file.SeekFile(SeekOrigin::Begin, offset);
    std::string data(count, '\0');
    data.resize(file.ReadBuffer(data.data(), count, true));
    return data;
}

inline std::string ReadDiskFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteDiskFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

// Names a handler's file and how it is to be opened.
inline void Describe(TFileHandler& file, const std::string& name, bool inMemory, bool exclusive = false) {
    file.Name = name;
    file.InMemory = inMemory;
    file.Exclusive = exclusive;
}

}  // namespace pixhold::engine::test
