#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "CofferDatabase.h"
#include "CofferQuery.h"
#include "CofferSession.h"
#include "CofferTable.h"
#include "DataModuleHost.h"
#include "ImportRecord.h"
#include "RecordPicture.h"

namespace pixhold::imaging {
class TPicture;
class TWorkerPool;
}

namespace pixhold::store {

class TConfig;

// The data module: the one owner of the engine session, the database on the
// data folder and the table handles, with the operations on whole tables.
// Everything that needs a window goes through the host. See
// docs/data-module.md.
// The filter expression that shows one category's records.
std::string CategoryFilter(const std::string& category);

class TDM {
public:
    // Sets up the components; DataModuleCreate does the start-up work. The
    // settings and the host must outlive the module.
    TDM(TConfig& config, IDataModuleHost& host);
    // Closes the handles, the database and the session.
    ~TDM();
    TDM(const TDM&) = delete;
    TDM& operator=(const TDM&) = delete;

    // Start-up: data folder, session, the default and cache tables, the
    // current table, the main window's selectors. A closed tblData afterwards
    // means the program cannot go on.
    void DataModuleCreate();

    void CreateImageTable(const std::string& database, const std::string& table);
    void CreateThumbsTable(const std::string& database);
    // Opens the handle; damaged tables are repaired and older ones upgraded
    // on the way. Any other failure is shown in the "Error" box and leaves
    // the handle closed. Errors of the repair or upgrade itself are passed on.
    void OpenTableWithRepair(engine::TCofferTable& table);
    // Makes `name` (with or without ".Dat") the current table; true when it
    // is open afterwards.
    bool OpenImageTable(const std::string& name);
    void NewImageTable(const std::string& name);
    void CompactImageTable();
    // Either password may be empty; an empty new one leaves the table
    // unencrypted and without password.
    void ChangeTablePassword(const std::string& oldPassword, const std::string& newPassword);

    // The stored thumbnail of the tblData record at the bookmark, read without
    // moving tblData for good (its position is restored). Raises when the
    // record cannot be read, or while tblData is being edited.
    std::vector<std::uint8_t> ReadThumbAt(const engine::TBookmark& bookmark);

    // Pictures of the current tblData record and of browsed files
    // (store/RecordPicture.cpp). LoadRecordPicture empties the picture, then
    // decodes the record's Image by its Type (an empty Image leaves the
    // picture empty). ReadRecordImage takes the bytes only, so that they can
    // be decoded on a worker thread (LoadRecordImage).
    void LoadRecordPicture(imaging::TPicture& picture);
    TRecordImage ReadRecordImage();
    // Rewrites the current record: FileName = name, Type = the name's code,
    // Image = the picture encoded for that code, Thumb = its record
    // thumbnail. Encoding and the thumbnail come before the edit starts, so a
    // failure there changes no record. Then the table's buffers are flushed.
    void SavePictureToRecord(const imaging::TPicture& picture, const std::string& name);
    // The same into a new record of tblData under the current category (a
    // pasted picture, which has no record of its own); tblData stands on it
    // afterwards.
    void SavePictureToNewRecord(const imaging::TPicture& picture, const std::string& name);
    // Writes the picture to `path` in the kind its extension names, refreshes
    // the file's row in Thumbs.dat (when StoreFileThumbsInDatabase is on and
    // QuickBrowse off) and reloads the picture from the file.
    void SavePictureToFile(imaging::TPicture& picture, const std::string& path);

    // Import (store/Import.cpp). Files are read, decoded and thumbnailed on
    // the worker threads when a pool is set, a few files ahead of the one
    // being stored; records are stored here, in folder order.
    void SetWorkers(imaging::TWorkerPool* workers) { workers_ = workers; }
    // The Import Images command: folder picker, import, list rebuilt.
    void SelectAndImportFolder();
    void ImportFolder(const std::string& folder, const std::string& category);
    void ImportFolderFiles(const std::string& folder, const std::string& category);
    // Files and folders dropped onto the main list: each folder as if picked
    // in Import Images, each picture file into the current table and
    // category; then the list is rebuilt.
    void ImportPaths(const std::vector<std::string>& paths);
    // Stores one file as a record of `table`; nothing when no file is there.
    void ImportFile(const std::string& path, const std::string& table, const std::string& category);

    // Categories (store/Categories.cpp): filters tblData on CurrentCategory
    // ("All" shows every record) and rebuilds the main list.
    void ApplyCategoryFilter();
    // The distinct categories of a table of the data folder, sorted, the
    // empty one first; empty when the table's files are missing.
    std::vector<std::string> GetCategoryList(const std::string& table);

    // Record operations (store/RecordOps.cpp) on the pictures of tblData.
    // Export Image Thumbnails: the thumbnail of every record of the view,
    // as folder + name with the extension ".jpg". A file that cannot be
    // written is shown in a "Write error" box; its record is kept even with
    // DeleteFilesAfterExport on.
    void ExportThumbnails();
    // Writes the picture (name, CategoryKey) unchanged to folder + name;
    // `folder` ends with a separator. Nothing when there is no such record.
    void ExportImage(const std::string& name, const std::string& folder);
    // Moves the picture (name, CurrentCategory) into `table` under
    // `category`. False only when the table does not exist. The source
    // record goes only once the copy is posted and on the disk.
    bool MoveImageToTable(const std::string& name, const std::string& table, const std::string& category);
    // The current record's category ("All" stores the empty category).
    void SetImageCategory(const std::string& category);
    // Deletes every record of the view, compacts the table, rebuilds the list.
    void DeleteAllImages();
    // Deletes the rows of "Thumbs.dat" whose file is gone and compacts it.
    void RemoveOrphanedThumbs();
    // Writes a 100 x 100 copy of a picture file beside it (PathWithoutExtension
    // + text + extension; an empty text replaces the file). Always true.
    bool ConvertFileToThumbnail(const std::string& path, const std::string& text);
    // The data folder's connection, for a change of data folder: closing
    // closes every table handle; connecting points DB at DataFolder.
    void DisconnectDatabase();
    void ConnectDatabase();

    // Event handlers.
    void CofferSession1Password(engine::TCofferSession& sender, bool& continueOpen);
    void tblDataEditError(engine::TCofferDataSet& dataset, const std::exception& error,
                          engine::TDataAction& action);

    TConfig& Config() const { return config_; }
    IDataModuleHost& Host() const { return host_; }

    // Components, in creation order (destroyed in reverse).
    engine::TCofferSession CofferSession1;
    engine::TCofferDatabase DB;
    engine::TCofferTable tblData;
    engine::TCofferTable tblThumbs;
    engine::TCofferTable tblDest;
    engine::TCofferQuery qry1;
    TReplaceAnswer ReplaceAnswer = TReplaceAnswer::None;

private:
    void SetUpTable(engine::TCofferTable& table, const std::string& name);
    void StoreFile(const std::string& path, const std::string& table, const std::string& category,
                   TPreparedFile prepared);
    void ShowImportProgress(const std::string& name);

    // After a failed compact or password change: the current table is opened
    // again when it can be, so that the program goes on with it.
    void ReopenDataQuietly() noexcept;
    void WritePictureRecord(const imaging::TPicture& picture, const std::string& name, bool append);

    TConfig& config_;
    IDataModuleHost& host_;
    // Set while ReopenDataQuietly runs: the password prompt gives up at once.
    bool quiet_ = false;
    imaging::TWorkerPool* workers_ = nullptr;
    // The folder import under way: files found so far, files stored, last status time.
    struct TImportProgress {
        bool Active = false;
        int Found = 0;
        int Done = 0;
        std::int64_t LastShownMs = 0;
    } import_;
    // The last category list read, with the folder, the table and its stamp
    // when it was read: while the table stays open and unchanged in every
    // process, the list is given again without a query.
    struct TCategoryListCache {
        std::string Folder;
        std::string Table;
        engine::TContentStamp Stamp;
        std::vector<std::string> List;
    };
    std::optional<TCategoryListCache> categoryList_;
};

}  // namespace pixhold::store
