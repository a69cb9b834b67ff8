#pragma once

#include "CofferDataSet.h"
#include "Picture.h"
#include "IViewerHost.h"
#include "Prefetch.h"
#include "bmpRot.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>

class QAction;
class QMenu;
class QStatusBar;
class QTimer;

namespace pixhold::imaging {
class TPH;
class TWorkerPool;
}  // namespace pixhold::imaging

namespace pixhold::store {
class TConfig;
class TDM;
}  // namespace pixhold::store

namespace pixhold::viewer {

class TPictureView;
class TBandShape;

// The image viewer: one picture of the main list at a time, full window, with
// stepping, crop, rotate, copy, paste, save, delete, recategorise and move.
// It works on the image helper's entries (ImageNames, ViewerIndex, the move
// targets) and, in database mode, on the current record of tblData.
//
// Several viewers may be open at once. Each keeps its own entry (index, name
// and, in database mode, the bookmark of its record) and puts ViewerIndex and
// tblData back on that entry before every command; see docs/viewer.md.
class TfrmViewer : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int HelpContext = 50;
    // The panel's bevel allowance on each side of the picture.
    static constexpr int PanelBevel = 1;
    static inline const QString InitialCaption = QStringLiteral("Image Viewer");
    static inline const QString PastedCaption = QStringLiteral("untitled.bmp");

    // `dm` may be null for a viewer that only browses folders without the
    // thumbnail cache; `workers` may be null (no decoding ahead).
    TfrmViewer(store::TConfig& config, imaging::TPH& ph, store::TDM* dm, IViewerHost& host,
               imaging::TWorkerPool* workers, QWidget* parent = nullptr);
    ~TfrmViewer() override;

    // Internal operations, public for tests.
    // step: -2 first, -1 previous, 0 current, 1 next, 2 last.
    void ShowEntry(int step);
    void DeleteCurrent();
    void FitImageToParent();

    // Menu commands.
    void ChangeImageCategory1Click();
    void MoveImagetoDatabase1Click();
    void SaveImage1Click();
    void SaveAs1Click();
    void Copy1Click();
    void Paste1Click();
    void DeleteImage1Click();
    void Crop1Click();
    void RotateImage1Click();
    void SwitchCategory1Click();
    void Contents1Click();
    void About1Click();

    bool Modified() const { return modified_; }
    // The picture itself: empty while only its preview is on show.
    const imaging::TPicture& Picture() const { return picture_; }
    // A large JPEG shows first as a preview (decoded at a reduced size for
    // its place) until the full picture, decoded in the background, replaces
    // it; every command that needs the picture itself waits for it first.
    bool PreviewShown() const { return preview_; }
    // A camera JPEG whose first look is not decoded yet shows first as a
    // glance: the thumbnail of its Exif segment, stretched, until the first
    // look and then the full picture replace it.
    bool GlanceShown() const { return preview_ && glance_; }
    // The size of the picture on show (of the full picture during a preview).
    QSize PictureSize() const;
    const imaging::TRubberBand& Band() const { return band_; }
    // This viewer's own entry.
    int EntryIndex() const { return index_; }
    QString EntryName() const { return name_; }
    const TPrefetch* Prefetch() const { return prefetch_.get(); }
    // Runs each time a picture has been put on show (benchmarks, tests).
    std::function<void()> OnPictureShown;
    // Runs each time the full picture has replaced its preview.
    std::function<void()> OnFullPicture;
    // Runs each time a first look (a preview or the picture) has replaced a glance.
    std::function<void()> OnGlanceReplaced;

    // Components.
    QWidget* Panel1 = nullptr;
    TPictureView* Image1 = nullptr;
    TBandShape* Shape1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;

    QAction* ChangeImageCategory1 = nullptr;
    QAction* MoveImagetoDatabase1 = nullptr;
    QAction* SaveImage1 = nullptr;
    QAction* SaveAs1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* Copy1 = nullptr;
    QAction* Paste1 = nullptr;
    QAction* DeleteImage1 = nullptr;
    QAction* Crop1 = nullptr;
    QAction* RotateImage1 = nullptr;
    QAction* SwitchCategory1 = nullptr;
    QAction* Next1 = nullptr;
    QAction* Previous1 = nullptr;
    QAction* First1 = nullptr;
    QAction* Last1 = nullptr;
    QAction* Refresh1 = nullptr;
    QAction* Contents1 = nullptr;
    QAction* About1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    QAction* AddCommand(QMenu* menu, const QString& caption, const QString& shortcut, void (TfrmViewer::*handler)());
    // Runs a command on this viewer's entry: the shared position is set to it
    // first and read back afterwards; errors go to the host's error report.
    void Command(const std::function<void()>& body);
    void FormShow();

    bool DatabaseMode() const;
    // The bodies of ShowEntry, DeleteCurrent and Save As, run inside a command.
    void Show(int step);
    void Delete();
    void SaveAs();
    // tblData to the entry now at ViewerIndex, after the shown one left the list.
    void SeekEntry();
    void ShowFolderEntry(int step);
    void ShowRecordEntry(int step);
    // The current record's type and bytes.
    TPictureSource RecordSource() const;
    TDisplayPlace Place() const;
    TDisplayPlace FullPlace() const;
    // Decodes the entry on the spot (and keeps it with the ones decoded ahead).
    std::shared_ptr<const TDecodedPicture> DecodeHere(const std::string& key, const TPictureSource& source);
    // Puts the picture or its preview on show (and the caption), then
    // decodes the neighbours ahead.
    void Present(const QString& caption, const TDecodedPicture& decoded, const std::string& key,
                 const TPictureSource& source, const QImage& display = {}, bool glance = false);
    // What was decoded ahead for the key: the full picture when it is there,
    // else the first look, waited for when `wait` (else only when done); or
    // nothing. `display` may get the rendering to show it in.
    std::shared_ptr<const TDecodedPicture> Decoded(const std::string& key, QImage& display, bool wait);
    // Shows the entry's glance when it has one (its first look is then
    // decoded first of all); false when it has none.
    bool ShowGlance(const QString& caption, const std::string& key, const TPictureSource& source);
    void ShowLook(const TDecodedPicture& look);
    // Makes sure the picture itself is on show (waiting for it or decoding
    // it now); false when it cannot be decoded (the user was told).
    bool EnsureFullPicture();
    void InstallFull(const TDecodedPicture& full);
    void FailShown(const std::string& error);
    void PictureReady(const std::string& key);
    void ReplacePreview();
    void RequestLook(const std::string& key, const TPictureSource& source, int priority);
    void RequestFull(const std::string& key, const TPictureSource& source, int priority);
    void RequestFullPictures();
    void PrefetchNeighbours();
    std::string FileKey(const std::string& path) const;
    std::string RecordKey() const;
    void HideBand();

    // The entry's type code: of its name in the list (folder mode) or of the
    // record's FileName (database mode).
    imaging::TImageType EntryType() const;
    QString CurrentName() const;
    std::string FolderPath(const QString& name) const;
    void SaveFile(const std::string& path);

    void RestorePosition();
    void KeepPosition();

    void BandPress(QPoint point);
    void BandMove(QPoint point);
    void BandRelease(QPoint point);

    store::TConfig& config_;
    imaging::TPH& ph_;
    store::TDM* dm_;
    IViewerHost& host_;
    std::unique_ptr<TPrefetch> prefetch_;

    imaging::TPicture picture_;
    imaging::TRubberBand band_;
    bool modified_ = false;
    // The picture control keeps the picture's own size (StretchImageToFit
    // off, or after a paste for the rest of the viewer's life).
    bool autoSize_ = false;
    bool shown_ = false;
    int depth_ = 0;  // commands under way (a nested one is ignored)

    // This viewer's entry.
    int index_ = 0;
    QString name_;
    engine::TBookmark bookmark_;
    QStringList prefetchNames_;  // the list the prefetched entries belong to

    // Entries ahead in the stepping direction whose first look is decoded ahead.
    static constexpr int kLookAhead = 2;
    int direction_ = 1;  // of the last step: 1 forward, -1 back
    std::string shownKey_;
    std::string nextKey_;  // the entry a step in the stepping direction shows
    QTimer* restTimer_ = nullptr;
    TPictureSource shownSource_;  // what the entry on show is decoded from
    bool preview_ = false;
    QSize previewSize_;
    QImage previewDisplay_;  // the preview's rendering for the place
    bool glance_ = false;    // the preview on show is a glance
    bool replacePending_ = false;  // a better picture came while a command ran
    // Database mode: the records' bytes read for the entries decoded ahead.
    std::map<std::string, TPictureSource> sources_;
};

}  // namespace pixhold::viewer
