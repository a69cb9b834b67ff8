#pragma once

#include "ByteSpan.h"

#include <QImage>

#include <memory>
#include <string>

namespace pixhold::imaging {
class TImageList;
class TPH;
class TWorkerPool;
}  // namespace pixhold::imaging

namespace pixhold::store {

class TDM;

// Rebuilds the main list's names and thumbnails: from tblData under its
// category filter (database mode), or from the picture files of the browsed
// folder with the thumbnail cache (folder mode). Installed as the image
// helper's fill source.
//
// Database mode keeps each entry's record position and reads its stored
// thumbnail only when the list shows it. Folder mode reads, decodes and
// shrinks the files on the worker threads, a few files ahead, while this
// thread takes the results in folder order: it asks the " corrupt. Delete?"
// question, writes the cache rows and fills the list, letting window messages
// run meanwhile.
class TImageListFill {
public:
    TImageListFill(TDM& dm, imaging::TWorkerPool& pool);
    ~TImageListFill();
    TImageListFill(const TImageListFill&) = delete;
    TImageListFill& operator=(const TImageListFill&) = delete;

    void Fill(imaging::TPH& ph, imaging::TImageList& list);

    // Counters for tests and the benchmark: picture files read, and cached
    // thumbnails used.
    int FilesRead() const { return filesRead_; }
    int CacheHits() const { return cacheHits_; }

private:
    void FillFromTable(imaging::TPH& ph, imaging::TImageList& list);
    void FillFromFolder(imaging::TPH& ph, imaging::TImageList& list);

    TDM& dm_;
    imaging::TWorkerPool& pool_;
    // Cleared when the fill object goes: thumbnails still listed then read nothing.
    std::shared_ptr<TDM*> alive_;
    bool filling_ = false;
    int filesRead_ = 0;
    int cacheHits_ = 0;
};

}  // namespace pixhold::store
