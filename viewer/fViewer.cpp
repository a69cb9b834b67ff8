#include "fViewer.h"

#include "Config.h"
#include "FitImage.h"
#include "GraphicError.h"
#include "ImageFns.h"
#include "ImageHelper.h"
#include "JpegCodec.h"
#include "JpegHead.h"
#include "PictureFile.h"
#include "PictureMessages.h"
#include "PictureView.h"
#include "Prefetch.h"
#include "TableFiles.h"
#include "fDM.h"

#include <QScreen>
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <set>

namespace pixhold::viewer {

namespace {

using imaging::TImageType;

constexpr const char* kCategoryAll = "All";

// The priorities of the full pictures decoded in the background (after the
// first looks, 1 to kLookAhead + 1), and how long the user must rest before
// they start.
constexpr int kShownFull = 10;
constexpr int kNextFull = 11;
constexpr int kRestMs = 120;

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The hourglass for one scope, restored on every way out.
class TBusyCursor {
public:
    TBusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { Restore(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
    void Restore() {
        if (active_) QGuiApplication::restoreOverrideCursor();
        active_ = false;
    }

private:
    bool active_ = true;
};

// Picture operations speak through the viewer's host.
class THostMessages final : public imaging::IPictureMessages {
public:
    explicit THostMessages(IViewerHost& host) : host_(host) {}
    void ShowMessage(const std::string& text) override { host_.ShowMessage(FromUtf8(text)); }
    void ShowMessageBox(const std::string& text, const std::string& caption) override {
        host_.ShowMessageBox(FromUtf8(text), FromUtf8(caption));
    }
    bool Confirm(const std::string& text) override { return host_.Confirm(FromUtf8(text)); }

private:
    IViewerHost& host_;
};

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The path with the extension of its file name replaced (or added).
QString ReplaceExtension(const QString& path, const QString& extension) {
    if (extension.isEmpty()) return path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > slash ? path.left(dot) : path;
    return stem + extension;
}

// The save dialog's entry (from 1) whose extension the name has; 1 when none.
int FilterIndexOf(const QString& name) {
    for (int i = 0;; ++i) {
        const std::string extension = imaging::ExtensionOfFileType(i);
        if (extension.empty()) return 1;
        if (name.endsWith(FromUtf8(extension), Qt::CaseInsensitive)) return i + 1;
    }
}

std::string HexOf(const engine::TBookmark& bookmark) {
    std::string text;
    char digits[3];
    for (std::uint8_t byte : bookmark) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

}  // namespace

TfrmViewer::TfrmViewer(store::TConfig& config, imaging::TPH& ph, store::TDM* dm, IViewerHost& host,
                       imaging::TWorkerPool* workers, QWidget* parent)
    : QMainWindow(parent), config_(config), ph_(ph), dm_(dm), host_(host) {
    setObjectName(QStringLiteral("frmViewer"));
    // A tool window with a title and no border icons.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(InitialCaption);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setPalette(black);
    Panel1->setAutoFillBackground(true);
    setCentralWidget(Panel1);
    Image1 = new TPictureView(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->SetPicture(&picture_);
    Shape1 = new TBandShape(Panel1);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(0, 0, 0, 0);
    Shape1->raise();
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    setStatusBar(StatusBar1);

    Image1->installEventFilter(this);
    Panel1->installEventFilter(this);
    connect(Shape1, &TBandShape::pressed, this, [this] { HideBand(); });

    BuildMenus();
    // The menu and status bars keep the desktop's colours on the black window.
    // (Every role marked as set: a palette without set roles would inherit
    // the window's black.)
    QPalette desktop = QApplication::palette();
    desktop.setResolveMask(~QPalette::ResolveMask(0));
    menuBar()->setPalette(desktop);
    menuBar()->setAutoFillBackground(true);
    StatusBar1->setPalette(desktop);
    StatusBar1->setAutoFillBackground(true);
    modified_ = false;
    restTimer_ = new QTimer(this);
    restTimer_->setSingleShot(true);
    connect(restTimer_, &QTimer::timeout, this, [this] { RequestFullPictures(); });
    if (workers != nullptr) {
        prefetch_ = std::make_unique<TPrefetch>(*workers);
        // A first look matters after a glance, a full picture after any preview.
        prefetch_->Finished = [this](const std::string& key, TPrefetch::TStage) { PictureReady(key); };
    }
}

TfrmViewer::~TfrmViewer() = default;

QAction* TfrmViewer::AddCommand(QMenu* menu, const QString& caption, const QString& shortcut,
                                void (TfrmViewer::*handler)()) {
    QAction* action = menu->addAction(caption);
    if (!shortcut.isEmpty()) action->setShortcut(QKeySequence(shortcut));
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return action;
}

void TfrmViewer::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    ChangeImageCategory1 = AddCommand(file, QStringLiteral("&Change Image Category"), QStringLiteral("Ctrl+Shift+C"),
                                      &TfrmViewer::ChangeImageCategory1Click);
    MoveImagetoDatabase1 = AddCommand(file, QStringLiteral("&Move Image to Database"), QStringLiteral("Alt+M"),
                                      &TfrmViewer::MoveImagetoDatabase1Click);
    SaveImage1 = AddCommand(file, QStringLiteral("&Save Image"), QStringLiteral("Alt+S"), &TfrmViewer::SaveImage1Click);
    SaveAs1 = AddCommand(file, QStringLiteral("Save &As"), {}, &TfrmViewer::SaveAs1Click);
    Exit1 = file->addAction(QStringLiteral("E&xit"));
    connect(Exit1, &QAction::triggered, this, [this] { close(); });

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    Copy1 = AddCommand(edit, QStringLiteral("Copy"), QStringLiteral("Ctrl+C"), &TfrmViewer::Copy1Click);
    Paste1 = AddCommand(edit, QStringLiteral("&Paste"), QStringLiteral("Ctrl+V"), &TfrmViewer::Paste1Click);
    DeleteImage1 = AddCommand(edit, QStringLiteral("&Delete Image"), QStringLiteral("Del"), &TfrmViewer::DeleteImage1Click);
    Crop1 = AddCommand(edit, QStringLiteral("&Crop"), QStringLiteral("Alt+C"), &TfrmViewer::Crop1Click);
    RotateImage1 = AddCommand(edit, QStringLiteral("&Rotate Image"), QStringLiteral("Ctrl+R"), &TfrmViewer::RotateImage1Click);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    SwitchCategory1 = AddCommand(view, QStringLiteral("&Switch Category"), QStringLiteral("Ctrl+S"),
                                 &TfrmViewer::SwitchCategory1Click);
    QMenu* image = view->addMenu(QStringLiteral("&Image"));
    auto step = [this, image](const QString& caption, const QString& shortcut, int by) {
        QAction* action = image->addAction(caption);
        action->setShortcut(QKeySequence(shortcut));
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, by] { ShowEntry(by); });
        return action;
    };
    Next1 = step(QStringLiteral("&Next"), QStringLiteral("PgDown"), 1);
    Previous1 = step(QStringLiteral("&Previous"), QStringLiteral("PgUp"), -1);
    First1 = step(QStringLiteral("&First"), QStringLiteral("Home"), -2);
    Last1 = step(QStringLiteral("&Last"), QStringLiteral("End"), 2);
    Refresh1 = view->addAction(QStringLiteral("&Refresh"));
    Refresh1->setShortcut(QKeySequence(QStringLiteral("F5")));
    connect(Refresh1, &QAction::triggered, this, [this] { ShowEntry(0); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    Contents1 = AddCommand(help, QStringLiteral("&Contents"), QStringLiteral("F1"), &TfrmViewer::Contents1Click);
    About1 = AddCommand(help, QStringLiteral("About"), {}, &TfrmViewer::About1Click);
}

bool TfrmViewer::DatabaseMode() const { return !config_.BrowseMode; }

void TfrmViewer::Command(const std::function<void()>& body) {
    // A command reached while another runs (keys pressed while pending
    // messages are processed) is dropped.
    if (depth_ > 0) return;
    ++depth_;
    try {
        RestorePosition();
        body();
    } catch (...) {
        host_.ReportError(std::current_exception());
    }
    try {
        KeepPosition();
    } catch (...) {
    }
    --depth_;
    if (depth_ == 0 && replacePending_) {
        // A better picture came while the command ran.
        replacePending_ = false;
        ReplacePreview();
    }
}

// ---- this viewer's own entry ---------------------------------------------------

void TfrmViewer::RestorePosition() {
    if (!shown_) return;
    const QStringList& names = ph_.ImageNames;
    int index = index_;
    if (index < 0 || index >= names.size() || names[index] != name_) {
        // The list changed since: the same name nearest to where it was.
        int found = -1;
        for (int d = 0; found < 0 && d <= names.size(); ++d) {
            if (index - d >= 0 && index - d < names.size() && names[index - d] == name_) found = index - d;
            else if (index + d >= 0 && index + d < names.size() && names[index + d] == name_) found = index + d;
        }
        index = found >= 0 ? found : std::clamp(index, 0, std::max(0, static_cast<int>(names.size()) - 1));
    }
    ph_.ViewerIndex = index;
    if (DatabaseMode() && dm_ != nullptr && dm_->tblData.Active() && !bookmark_.empty()) {
        try {
            dm_->tblData.GotoBookmark(bookmark_);
        } catch (...) {
            // The record is gone: the entry's name stands for it.
            if (index < names.size()) dm_->tblData.FindKey({names[index].toStdString()});
        }
    }
}

void TfrmViewer::KeepPosition() {
    if (!shown_) return;
    const QStringList& names = ph_.ImageNames;
    index_ = ph_.ViewerIndex;
    name_ = index_ >= 0 && index_ < names.size() ? names[index_] : QString();
    bookmark_.clear();
    if (DatabaseMode() && dm_ != nullptr && dm_->tblData.Active() && !dm_->tblData.IsEmpty()) {
        bookmark_ = dm_->tblData.GetBookmark();
    }
}

// ---- showing ---------------------------------------------------------------

void TfrmViewer::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    Command([this] { FormShow(); });
}

void TfrmViewer::FormShow() {
    raise();
    activateWindow();
    if (!config_.StretchImageToFit) autoSize_ = true;
    ChangeImageCategory1->setEnabled(DatabaseMode());
    SwitchCategory1->setEnabled(DatabaseMode());
    if (DatabaseMode() && dm_ != nullptr && dm_->tblData.Active()) {
        const int index = ph_.ViewerIndex;
        if (index >= 0 && index < ph_.ImageNames.size()) dm_->tblData.FindKey({ph_.ImageNames[index].toStdString()});
    }
    // The whole work area also where no window manager maximises windows.
    if (const QScreen* screen = this->screen()) setGeometry(screen->availableGeometry());
    setWindowState(windowState() | Qt::WindowMaximized);
    QCoreApplication::processEvents();
    shown_ = true;
    Show(0);
}

void TfrmViewer::ShowEntry(int step) {
    Command([this, step] { Show(step); });
}

void TfrmViewer::Show(int step) {
    TBusyCursor busy;
    QCoreApplication::processEvents();
    HideBand();
    modified_ = false;
    picture_.Clear();
    preview_ = false;
    shownKey_.clear();
    nextKey_.clear();
    restTimer_->stop();
    Image1->SetPicture(&picture_);
    if (step == 1 || step == -2) direction_ = 1;
    if (step == -1) direction_ = -1;
    if (DatabaseMode()) {
        ShowRecordEntry(step);
    } else {
        ShowFolderEntry(step);
    }
}

std::string TfrmViewer::FolderPath(const QString& name) const {
    return config_.LastBrowseDir + name.toStdString();
}

void TfrmViewer::ShowFolderEntry(int step) {
    QStringList& names = ph_.ImageNames;
    int& index = ph_.ViewerIndex;
    switch (step) {
    case -2: index = 0; break;
    case -1: --index; break;
    case 1: ++index; break;
    case 2: index = static_cast<int>(names.size()) - 1; break;
    default: break;
    }
    if (index >= names.size()) {
        // Quick browsing reads the folder again at the end, so new files appear.
        if (config_.QuickBrowse) host_.RefreshImageList();
        index = 0;
    }
    if (index < 0) index = static_cast<int>(names.size()) - 1;
    while (!names.empty() && !FileExists(FolderPath(names[index]))) {
        const qsizetype before = names.size();
        host_.RemoveListItem(names[index]);
        if (names.size() == before) return;  // the list would not let it go
        if (index >= names.size()) index = 0;
    }
    if (names.empty()) {
        index = 0;
        FitImageToParent();
        return;
    }

    TPictureSource source;
    source.Path = FolderPath(names[index]);
    const std::string key = FileKey(source.Path);
    const QString caption = FromUtf8(source.Path);
    QImage display;
    std::shared_ptr<const TDecodedPicture> decoded = Decoded(key, display, false);
    if (!decoded && ShowGlance(caption, key, source)) return;
    if (!decoded) decoded = Decoded(key, display, true);
    if (!decoded) decoded = DecodeHere(key, source);
    if (!decoded->Error.empty()) {
        FitImageToParent();
        if (host_.Confirm(FromUtf8(decoded->Error) + QStringLiteral(" ") + FromUtf8(source.Path) +
                          QStringLiteral(" corrupt. Delete?"))) {
            Delete();
        }
        return;
    }
    Present(caption, *decoded, key, source, display);
}

void TfrmViewer::ShowRecordEntry(int step) {
    if (dm_ == nullptr) throw std::logic_error("The viewer has no data module");
    engine::TCofferTable& table = dm_->tblData;
    const int count = static_cast<int>(ph_.ImageNames.size());
    int& index = ph_.ViewerIndex;
    if (!table.Active() || table.IsEmpty()) {
        FitImageToParent();
        return;
    }
    switch (step) {
    case -2:
        table.First();
        index = 0;
        break;
    case 2:
        table.Last();
        index = count - 1;
        break;
    case 1:
        table.Next();
        if (table.Eof()) {
            table.First();
            index = 0;
        } else {
            ++index;
        }
        break;
    case -1:
        table.Prior();
        if (table.Bof()) {
            table.Last();
            index = count - 1;
        } else {
            --index;
        }
        break;
    default: break;
    }
    index = std::clamp(index, 0, std::max(0, count - 1));

    const QString name = FromUtf8(table.FieldByName("FileName").AsString());
    const std::string key = RecordKey();
    QImage display;
    std::shared_ptr<const TDecodedPicture> decoded = Decoded(key, display, false);
    TPictureSource source;
    if (!decoded) {
        // The record is read here, on this thread (unless its bytes were read
        // for decoding ahead); only the decoding may go elsewhere.
        // (Bytes read ahead count while their first look is kept: anything
        // that changes a record drops them all.)
        const auto known = sources_.find(key);
        const bool readAhead = known != sources_.end() && known->second.Bytes && prefetch_ &&
                               prefetch_->Has(key, TPrefetch::TStage::Look);
        try {
            source = readAhead ? known->second : RecordSource();
        } catch (...) {
            FitImageToParent();
            throw;
        }
        if (ShowGlance(name, key, source)) return;
        decoded = Decoded(key, display, true);
        if (!decoded) decoded = DecodeHere(key, source);
    }
    if (!decoded->Error.empty()) {
        FitImageToParent();
        throw imaging::EInvalidGraphic(decoded->Error);
    }
    Present(name, *decoded, key, source, display);
}

std::shared_ptr<const TDecodedPicture> TfrmViewer::Decoded(const std::string& key, QImage& display, bool wait) {
    if (!prefetch_ || key.empty()) return nullptr;
    const auto idle = [] { QCoreApplication::processEvents(); };
    // The full picture when it is there already (shown before, or decoded
    // ahead while the previous one was looked at), else the first look.
    std::shared_ptr<const TDecodedPicture> decoded;
    if (prefetch_->Ready(key, TPrefetch::TStage::Full)) {
        decoded = prefetch_->Take(key, TPrefetch::TStage::Full, idle);
        const auto look = prefetch_->Peek(key, TPrefetch::TStage::Look);
        // The full picture is shown in the rendering of its preview.
        if (decoded->Error.empty() && decoded->Display.isNull() && look && look->Preview) display = look->Display;
    } else if (wait || prefetch_->Ready(key, TPrefetch::TStage::Look)) {
        decoded = prefetch_->Take(key, TPrefetch::TStage::Look, idle);
    }
    if (decoded) prefetch_->CountHit();
    return decoded;
}

bool TfrmViewer::ShowGlance(const QString& caption, const std::string& key, const TPictureSource& source) {
    if (!prefetch_ || key.empty() || autoSize_) return false;
    imaging::TJpegGlance glance;
    try {
        if (!source.Path.empty()) {
            glance = imaging::ReadJpegGlance(imaging::ReadPictureFileHead(source.Path, imaging::JpegGlanceHeadBytes));
        } else if (source.Bytes) {
            glance = imaging::ReadJpegGlance(*source.Bytes);
        }
    } catch (const std::exception&) {
        return false;  // decoding the file tells what is wrong with it
    }
    if (glance.Image.isNull()) return false;
    // Only for a picture stretched to the panel: a smaller one decodes at once.
    const TFit fit = viewer::FitImageToParent(glance.FullSize.width(), glance.FullSize.height(), Panel1->width(),
                                              Panel1->height(), PanelBevel);
    if (!fit.Stretch) return false;
    TDecodedPicture shown;
    shown.Preview = true;
    shown.FullSize = glance.FullSize;
    shown.Reduced = std::move(glance.Image);
    shown.Source = source;
    Present(caption, shown, key, source, {}, true);
    // The first look (decoded ahead or not) now goes before everything else.
    // (After Present: a new list of names drops every job there.)
    RequestLook(key, source, 0);
    return true;
}

std::shared_ptr<const TDecodedPicture> TfrmViewer::DecodeHere(const std::string& key, const TPictureSource& source) {
    auto decoded = std::make_shared<const TDecodedPicture>(DecodeForDisplay(source, Place(), prefetch_ != nullptr));
    // Kept like a first look decoded ahead (stepping back, Refresh).
    if (prefetch_ && !key.empty() && decoded->Error.empty()) prefetch_->Put(key, TPrefetch::TStage::Look, decoded);
    return decoded;
}

TPictureSource TfrmViewer::RecordSource() const {
    store::TRecordImage image = dm_->ReadRecordImage();
    TPictureSource source;
    source.Type = image.Type;
    source.Bytes = std::make_shared<const imaging::TByteVector>(std::move(image.Bytes));
    return source;
}

TDisplayPlace TfrmViewer::Place() const {
    TDisplayPlace place;
    place.Client = Panel1->size();
    place.Bevel = PanelBevel;
    place.Stretch = !autoSize_;
    return place;
}

void TfrmViewer::Present(const QString& caption, const TDecodedPicture& decoded, const std::string& key,
                         const TPictureSource& source, const QImage& display, bool glance) {
    shownKey_ = key;
    glance_ = glance;
    if (decoded.Preview) {
        // Shown at once; the full picture is decoded from the same bytes next.
        preview_ = true;
        previewSize_ = decoded.FullSize;
        previewDisplay_ = decoded.Display;
        shownSource_ = decoded.Source;
        picture_.Clear();
        Image1->SetPicture(&picture_);
        Image1->SetPreview(decoded.Reduced, decoded.Display);
    } else {
        preview_ = false;
        shownSource_ = source;
        picture_ = decoded.Picture;
        Image1->SetPicture(&picture_, display.isNull() ? decoded.Display : display);
    }
    FitImageToParent();
    setWindowTitle(caption);
    if (OnPictureShown) OnPictureShown();
    PrefetchNeighbours();
    // Full pictures are decoded once no key has come for a moment: while the
    // keys come back to back, the workers decode only what goes on show.
    if (prefetch_) restTimer_->start(kRestMs);
}

void TfrmViewer::RequestFullPictures() {
    if (preview_) RequestFull(shownKey_, shownSource_, kShownFull);
    // The next entry's full picture only when its first look was a preview
    // (else that look is the picture), from the bytes the preview was made of.
    if (!prefetch_ || nextKey_.empty()) return;
    const auto look = prefetch_->Peek(nextKey_, TPrefetch::TStage::Look);
    if (look && look->Preview) RequestFull(nextKey_, look->Source, kNextFull);
}

QSize TfrmViewer::PictureSize() const {
    return preview_ ? previewSize_ : QSize(picture_.Width(), picture_.Height());
}

void TfrmViewer::InstallFull(const TDecodedPicture& full) {
    const bool afterGlance = GlanceShown();
    preview_ = false;
    glance_ = false;
    picture_ = full.Picture;
    // At the place's size the rendering of the preview stays on show: the
    // eye sees no change.
    Image1->SetPicture(&picture_, full.Display.isNull() ? previewDisplay_ : full.Display);
    previewDisplay_ = QImage();
    FitImageToParent();
    if (afterGlance && OnGlanceReplaced) OnGlanceReplaced();
    if (OnFullPicture) OnFullPicture();
}

void TfrmViewer::ShowLook(const TDecodedPicture& look) {
    // The preview takes the glance's place; the full picture follows.
    glance_ = false;
    previewSize_ = look.FullSize;
    previewDisplay_ = look.Display;
    shownSource_ = look.Source;
    Image1->SetPreview(look.Reduced, look.Display);
    FitImageToParent();
    if (OnGlanceReplaced) OnGlanceReplaced();
}

void TfrmViewer::FailShown(const std::string& error) {
    // The preview showed, but the picture itself cannot be decoded: as when
    // it cannot be decoded at all.
    preview_ = false;
    picture_.Clear();
    Image1->SetPicture(&picture_);
    FitImageToParent();
    if (DatabaseMode()) throw imaging::EInvalidGraphic(error);
    if (host_.Confirm(FromUtf8(error) + QStringLiteral(" ") + FromUtf8(shownSource_.Path) +
                      QStringLiteral(" corrupt. Delete?"))) {
        Delete();
    }
}

bool TfrmViewer::EnsureFullPicture() {
    if (!preview_) return true;
    std::shared_ptr<const TDecodedPicture> full;
    if (prefetch_) {
        RequestFull(shownKey_, shownSource_, 0);
        full = prefetch_->Take(shownKey_, TPrefetch::TStage::Full, [] { QCoreApplication::processEvents(); });
    }
    if (!full || full->Error == imaging::JpegCancelledMessage) {
        full = std::make_shared<const TDecodedPicture>(DecodeFull(shownSource_, FullPlace()));
    }
    if (!full->Error.empty()) {
        FailShown(full->Error);
        return false;
    }
    InstallFull(*full);
    return true;
}

void TfrmViewer::PictureReady(const std::string& key) {
    if (!preview_ || key != shownKey_) return;
    if (depth_ > 0) {
        // Put in place once the command under way is over.
        replacePending_ = true;
        return;
    }
    ReplacePreview();
}

void TfrmViewer::ReplacePreview() {
    if (!preview_ || !prefetch_) return;
    // The full picture when it is there; after a glance, else the first look.
    auto better = prefetch_->Peek(shownKey_, TPrefetch::TStage::Full);
    if (!better && glance_) better = prefetch_->Peek(shownKey_, TPrefetch::TStage::Look);
    if (!better) return;
    if (better->Error.empty()) {
        // Only the picture changes hands: neither ViewerIndex nor tblData move.
        if (better->Preview) {
            ShowLook(*better);
        } else {
            InstallFull(*better);
        }
        return;
    }
    const std::string error = better->Error;
    if (DatabaseMode()) {
        ++depth_;
        try {
            FailShown(error);
        } catch (...) {
            host_.ReportError(std::current_exception());
        }
        --depth_;
        return;
    }
    // The question may delete the entry: a command on it.
    Command([this, error] {
        if (preview_) FailShown(error);
    });
}

TDisplayPlace TfrmViewer::FullPlace() const {
    // Full pictures follow previews, whose renderings for the place are used.
    TDisplayPlace place = Place();
    place.Stretch = false;
    return place;
}

void TfrmViewer::RequestFull(const std::string& key, const TPictureSource& source, int priority) {
    if (!prefetch_ || key.empty()) return;
    const TDisplayPlace place = FullPlace();
    prefetch_->Request(key, TPrefetch::TStage::Full, priority,
                       [source, place](const std::atomic<bool>& cancel) { return DecodeFull(source, place, &cancel); });
}

void TfrmViewer::RequestLook(const std::string& key, const TPictureSource& source, int priority) {
    if (!prefetch_ || key.empty()) return;
    const TDisplayPlace place = Place();
    prefetch_->Request(key, TPrefetch::TStage::Look, priority, [source, place](const std::atomic<bool>& cancel) {
        return DecodeForDisplay(source, place, true, &cancel);
    });
}

std::string TfrmViewer::FileKey(const std::string& path) const {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return path + "|" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + "|" +
           std::to_string(st.st_size);
}

std::string TfrmViewer::RecordKey() const {
    engine::TCofferTable& table = dm_->tblData;
    return "#" + HexOf(table.GetBookmark()) + "|" + table.FieldByName("FileName").AsString();
}

void TfrmViewer::PrefetchNeighbours() {
    if (!prefetch_) return;
    using TStage = TPrefetch::TStage;
    const QStringList& names = ph_.ImageNames;
    if (names != prefetchNames_) {
        // Another list: what was decoded ahead may name other pictures now.
        prefetch_->Clear();
        sources_.clear();
        prefetchNames_ = names;
    }
    // Most urgent first: the first looks at the entries ahead in the stepping
    // direction, then the one behind. The full pictures (of the one on show
    // and of the next) follow once the user rests (RequestFullPictures).
    constexpr int kBehind = kLookAhead + 1;
    std::vector<TPrefetch::TKeep> keep;
    keep.push_back({shownKey_, TStage::Look, false});
    keep.push_back({shownKey_, TStage::Full, false});
    nextKey_.clear();
    std::map<std::string, TPictureSource> sources;
    try {
        // The neighbours: (distance, direction); the first is the next entry.
        std::vector<int> offsets;
        for (int d = 1; d <= kLookAhead; ++d) offsets.push_back(d * direction_);
        offsets.push_back(-direction_);
        std::vector<std::string> keys;
        if (!DatabaseMode()) {
            const int count = static_cast<int>(names.size());
            const int index = ph_.ViewerIndex;
            if (count == 0 || index < 0 || index >= count) return;
            std::set<int> seen{index};
            for (std::size_t i = 0; i < offsets.size(); ++i) {
                const int j = ((index + offsets[i]) % count + count) % count;
                if (!seen.insert(j).second) {
                    keys.emplace_back();
                    continue;
                }
                TPictureSource source;
                source.Path = FolderPath(names[j]);
                keys.push_back(FileKey(source.Path));
                sources[keys.back()] = source;
            }
        } else if (dm_ != nullptr && dm_->tblData.Active() && !dm_->tblData.IsEmpty()) {
            // The engine is used here, on this thread; the workers get bytes.
            engine::TCofferTable& table = dm_->tblData;
            const engine::TBookmark here = table.GetBookmark();
            struct TBack {
                engine::TCofferTable& table;
                const engine::TBookmark& here;
                ~TBack() {
                    try {
                        table.GotoBookmark(here);
                    } catch (...) {
                    }
                }
            } back{table, here};
            std::set<engine::TBookmark> seen{here};
            for (int offset : offsets) {
                table.GotoBookmark(here);
                for (int moved = 0; moved < std::abs(offset); ++moved) {
                    if (offset > 0) {
                        table.Next();
                        if (table.Eof()) table.First();
                    } else {
                        table.Prior();
                        if (table.Bof()) table.Last();
                    }
                }
                if (!seen.insert(table.GetBookmark()).second) {
                    keys.emplace_back();
                    continue;
                }
                const std::string key = RecordKey();
                keys.push_back(key);
                const auto known = sources_.find(key);
                if (known != sources_.end() && prefetch_->Has(key, TStage::Look)) {
                    sources[key] = known->second;
                } else if (!prefetch_->Has(key, TStage::Look)) {
                    sources[key] = RecordSource();
                }
            }
        }
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const std::string& key = keys[i];
            if (key.empty()) continue;
            const bool behind = i + 1 == keys.size();
            // While glances show (keys faster than the looks), a look of the
            // entry behind still under way gives way to the one on show.
            keep.push_back({key, TStage::Look, behind && GlanceShown()});
            // A full picture is kept for the entry behind (the one just left)
            // once done, and decoded ahead for the next one.
            keep.push_back({key, TStage::Full, i != 0});
            if (i == 0) nextKey_ = key;
            const auto source = sources.find(key);
            if (source == sources.end()) continue;
            RequestLook(key, source->second, behind ? kBehind : static_cast<int>(i) + 1);
        }
    } catch (...) {
        // Decoding ahead is only a help: showing the entry later decodes it then.
    }
    prefetch_->Retain(keep);
    std::erase_if(sources, [this](const auto& entry) {
        return !prefetch_->Has(entry.first, TPrefetch::TStage::Look) && !prefetch_->Has(entry.first, TPrefetch::TStage::Full);
    });
    if (DatabaseMode()) sources_ = std::move(sources);
}

// ---- fitting ---------------------------------------------------------------

void TfrmViewer::FitImageToParent() {
    const QSize size = PictureSize();
    const TFit fit = viewer::FitImageToParent(size.width(), size.height(), Panel1->width(), Panel1->height(),
                                              PanelBevel);
    if (autoSize_) {
        Image1->SetStretch(false);
        Image1->setGeometry(fit.Bounds.left(), fit.Bounds.top(), size.width(), size.height());
    } else {
        Image1->SetStretch(fit.Stretch);
        Image1->setGeometry(fit.Bounds);
    }
}

// ---- deleting --------------------------------------------------------------

void TfrmViewer::DeleteCurrent() {
    Command([this] { Delete(); });
}

void TfrmViewer::Delete() {
    QStringList& names = ph_.ImageNames;
    const int index = ph_.ViewerIndex;
    if (names.empty() || index < 0 || index >= names.size()) return;
    TBusyCursor busy;
    const QString name = names[index];
    if (!DatabaseMode()) {
        const std::string path = FolderPath(name);
        store::ClearFileAttributes(path);
        if (::unlink(path.c_str()) != 0) {
            busy.Restore();
            host_.ShowMessage(QStringLiteral("Could not delete ") + FromUtf8(path));
            return;
        }
    } else {
        if (dm_ == nullptr || !dm_->tblData.Active() || dm_->tblData.IsEmpty()) return;
        dm_->tblData.Delete();
    }
    if (prefetch_) prefetch_->Clear();
    host_.RemoveListItem(name);
    busy.Restore();
    Show(0);
}

void TfrmViewer::DeleteImage1Click() {
    Command([this] {
        const QStringList& names = ph_.ImageNames;
        const int index = ph_.ViewerIndex;
        if (names.empty() || index < 0 || index >= names.size()) return;
        if (!config_.ConfirmDelete || host_.Confirm(QStringLiteral("Delete: ") + names[index] + QStringLiteral("?"))) {
            Delete();
        }
    });
}

// ---- categories and moving -------------------------------------------------

void TfrmViewer::SeekEntry() {
    // After the entry left the view: tblData goes to the entry now at ViewerIndex.
    const QStringList& names = ph_.ImageNames;
    int& index = ph_.ViewerIndex;
    if (names.empty() || dm_ == nullptr || !dm_->tblData.Active()) return;
    if (index >= names.size()) index = static_cast<int>(names.size()) - 1;
    dm_->tblData.FindKey({names[index].toStdString()});
}

void TfrmViewer::ChangeImageCategory1Click() {
    Command([this] {
        if (!DatabaseMode() || ph_.ImageNames.empty()) return;
        const QString chosen = host_.ChooseCategory(false);
        if (chosen == CategoryCancelMark) return;
        const QString name = CurrentName();
        host_.SetImageCategory(chosen);
        if (prefetch_) prefetch_->Clear();
        // "All" stores no category: the record then belongs to the empty category's view.
        const QString stored = chosen == QLatin1String(kCategoryAll) ? QString() : chosen;
        const QString current = FromUtf8(config_.CurrentCategory);
        if (current != QLatin1String(kCategoryAll) && stored != current) {
            host_.RemoveListItem(name);
            SeekEntry();
        }
        Show(0);
    });
}

void TfrmViewer::SwitchCategory1Click() {
    Command([this] {
        if (!DatabaseMode()) return;
        const QString chosen = host_.ChooseCategory(true);
        if (chosen == CategoryCancelMark) return;
        config_.CurrentCategory = chosen.toStdString();
        host_.ApplyCategoryFilter();
        if (prefetch_) prefetch_->Clear();
        ph_.ViewerIndex = 0;
        if (dm_ != nullptr && dm_->tblData.Active()) dm_->tblData.First();
        Show(0);
    });
}

void TfrmViewer::MoveImagetoDatabase1Click() {
    Command([this] {
        const TMoveChoice choice = host_.ChooseMoveTarget();
        ph_.TargetTable = choice.Table;
        ph_.TargetCategory = choice.Category;
        if (!choice.Accepted) return;
        const QString name = CurrentName();
        if (name.isEmpty()) return;
        if (!DatabaseMode()) {
            if (dm_ == nullptr) throw std::logic_error("The viewer has no data module");
            const std::string path = FolderPath(name);
            dm_->ImportFile(path, choice.Table.toStdString(), choice.Category.toStdString());
            if (FileExists(path)) {
                store::ClearFileAttributes(path);
                ::unlink(path.c_str());
            }
            host_.RemoveListItem(name);
        } else if (config_.CurrentCategory == kCategoryAll) {
            host_.ShowMessage(QStringLiteral("Images cannot be moved when in the All category,"));
        } else if (host_.MoveImageToTable(name, choice.Table, choice.Category)) {
            host_.RemoveListItem(name);
            SeekEntry();
        }
        if (prefetch_) prefetch_->Clear();
        Show(0);
    });
}

// ---- saving ----------------------------------------------------------------

QString TfrmViewer::CurrentName() const {
    const QStringList& names = ph_.ImageNames;
    const int index = ph_.ViewerIndex;
    return index >= 0 && index < names.size() ? names[index] : QString();
}

imaging::TImageType TfrmViewer::EntryType() const {
    if (DatabaseMode()) {
        if (dm_ == nullptr || !dm_->tblData.Active() || dm_->tblData.IsEmpty()) return TImageType::Unknown;
        return imaging::ImageTypeOfExtension(dm_->tblData.FieldByName("FileName").AsString());
    }
    return imaging::ImageTypeOfExtension(CurrentName().toStdString());
}

void TfrmViewer::SaveFile(const std::string& path) {
    if (dm_ != nullptr) {
        dm_->SavePictureToFile(picture_, path);
    } else {
        picture_.SaveToFile(path);
        picture_.LoadFromFile(path);
    }
    if (prefetch_) prefetch_->Clear();
    Image1->PictureChanged();
    FitImageToParent();
}

void TfrmViewer::SaveImage1Click() {
    Command([this] {
        if (windowTitle() == PastedCaption) {
            // A pasted picture has no entry of its own: Save As writes it, and
            // the entry shown before the paste is left as it is.
            SaveAs();
            return;
        }
        if (!modified_) return;
        const QString name = CurrentName();
        if (name.isEmpty()) return;
        if (!EnsureFullPicture()) return;
        imaging::ConvertPictureToFormat(picture_, name.toStdString());
        if (!DatabaseMode()) {
            const std::string path = FolderPath(name);
            store::ClearFileAttributes(path);
            SaveFile(path);
        } else {
            if (dm_ == nullptr) throw std::logic_error("The viewer has no data module");
            dm_->SavePictureToRecord(picture_, name.toStdString());
            if (prefetch_) prefetch_->Clear();
            Image1->PictureChanged();
        }
        modified_ = false;
    });
}

void TfrmViewer::SaveAs1Click() {
    Command([this] { SaveAs(); });
}

void TfrmViewer::SaveAs() {
    const bool pasted = windowTitle() == PastedCaption;
    const TImageType code = pasted ? TImageType::Bitmap : EntryType();
    const QString name = pasted ? PastedCaption : CurrentName();
    if (!EnsureFullPicture()) return;
    if (!picture_.HasGraphic()) return;
    THostMessages messages(host_);
    if (!DatabaseMode()) {
        const QString proposed = FromUtf8(config_.LastSaveDir) + name;
        const std::optional<TSaveFileChoice> choice =
            host_.ChooseSaveFile(proposed, QString::fromLatin1(imaging::SaveAsFilter), FilterIndexOf(name));
        if (!choice) return;
        const QString path = ReplaceExtension(choice->Path, FromUtf8(imaging::ExtensionOfFileType(choice->FilterIndex - 1)));
        imaging::PictureToBitmap(picture_, code, messages);
        SaveFile(path.toStdString());
        config_.LastSaveDir = QFileInfo(path).absolutePath().toStdString() + "/";
        return;
    }
    if (dm_ == nullptr) throw std::logic_error("The viewer has no data module");
    if (!dm_->tblData.Active() || dm_->tblData.IsEmpty()) return;
    const std::optional<QString> chosen = host_.ChooseSaveAsName(name);
    if (!chosen) return;
    imaging::PictureToBitmap(picture_, code, messages);
    imaging::ConvertPictureToFormat(picture_, chosen->toStdString());
    if (pasted) {
        // A pasted picture becomes a record of its own: the record shown
        // before the paste keeps its picture.
        dm_->SavePictureToNewRecord(picture_, chosen->toStdString());
        const engine::TBookmark added = dm_->tblData.GetBookmark();
        host_.RefreshImageList();
        dm_->tblData.GotoBookmark(added);
        ph_.ViewerIndex = std::max(0, static_cast<int>(ph_.ImageNames.indexOf(*chosen)));
        if (prefetch_) prefetch_->Clear();
        Image1->PictureChanged();
        FitImageToParent();
        setWindowTitle(*chosen);
        return;
    }
    dm_->SavePictureToRecord(picture_, chosen->toStdString());
    const int index = ph_.ViewerIndex;
    if (index >= 0 && index < ph_.ImageNames.size()) ph_.ImageNames[index] = *chosen;
    if (prefetch_) prefetch_->Clear();
    Image1->PictureChanged();
    FitImageToParent();
    setWindowTitle(*chosen);
}

// ---- clipboard ---------------------------------------------------------------

void TfrmViewer::Copy1Click() {
    Command([this] {
        if (!EnsureFullPicture()) return;
        if (!picture_.HasGraphic()) return;
        THostMessages messages(host_);
        imaging::PictureToBitmap(picture_, windowTitle() == PastedCaption ? TImageType::Bitmap : EntryType(), messages);
        Image1->PictureChanged();
        QGuiApplication::clipboard()->setImage(picture_.Bitmap().ToImage());
    });
}

void TfrmViewer::Paste1Click() {
    Command([this] {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        const QImage image = data != nullptr && data->hasImage() ? QGuiApplication::clipboard()->image() : QImage();
        if (image.isNull()) {
            host_.ShowInformation(QStringLiteral("Clipboard does not contain a picture"));
            return;
        }
        if (!autoSize_ && prefetch_) prefetch_->Clear();  // made for stretching
        autoSize_ = true;
        preview_ = false;
        picture_.SetBitmap(imaging::TBitmap::FromImage(image));
        Image1->SetPicture(&picture_);
        FitImageToParent();
        setWindowTitle(PastedCaption);
    });
}

// ---- crop and rotate ---------------------------------------------------------

void TfrmViewer::Crop1Click() {
    Command([this] {
        if (!band_.Visible()) return;
        const TImageType code = EntryType();
        if (code == TImageType::Icon || code == TImageType::Wmf || code == TImageType::Emf) {
            host_.ShowMessage(QStringLiteral("This image type cannot be cropped"));
            return;
        }
        const QRect rect = band_.CropRectangle();
        HideBand();
        if (!EnsureFullPicture()) return;
        if (!picture_.HasGraphic()) return;
        THostMessages messages(host_);
        imaging::PictureToBitmap(picture_, code, messages);
        picture_.SetBitmap(imaging::CropBitmap(picture_.Bitmap(), rect));
        modified_ = true;
        Image1->PictureChanged();
        FitImageToParent();
    });
}

void TfrmViewer::RotateImage1Click() {
    Command([this] {
        const TImageType code = EntryType();
        if (code == TImageType::Icon || code == TImageType::Wmf || code == TImageType::Emf) {
            host_.ShowMessage(QStringLiteral("This image type cannot be rotated"));
            return;
        }
        if (!EnsureFullPicture()) return;
        if (!picture_.HasGraphic()) return;
        THostMessages messages(host_);
        imaging::PictureToBitmap(picture_, code, messages);
        imaging::TBitmap working = picture_.Bitmap();
        imaging::RotateBitmap(working);
        picture_.SetBitmap(std::move(working));
        modified_ = true;
        Image1->PictureChanged();
        FitImageToParent();
    });
}

// ---- help --------------------------------------------------------------------

void TfrmViewer::Contents1Click() {
    Command([this] { host_.ShowHelp(HelpContext); });
}

void TfrmViewer::About1Click() {
    Command([this] { host_.ShowAbout(); });
}

// ---- keys and the mouse ------------------------------------------------------

void TfrmViewer::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        close();
        return;
    case Qt::Key_Space:
        ShowEntry(1);
        return;
    case Qt::Key_Insert:
        DeleteCurrent();
        return;
    default:
        QMainWindow::keyPressEvent(event);
    }
}

void TfrmViewer::HideBand() {
    band_.Hide();
    Shape1->setGeometry(QRect(band_.Band().topLeft(), QSize(0, 0)));
}

void TfrmViewer::BandPress(QPoint point) {
    band_.Press(point, Image1->pos(), Image1->Stretch(), PictureSize(), Image1->size());
    Shape1->setGeometry(band_.Band());
    Shape1->raise();
    Shape1->show();
}

void TfrmViewer::BandMove(QPoint point) {
    if (!band_.Dragging()) return;
    band_.Move(point, Image1->pos(), Image1->Stretch(), PictureSize(), Image1->size());
    Shape1->setGeometry(band_.Band());
    Shape1->update();
}

void TfrmViewer::BandRelease(QPoint point) {
    if (!band_.Dragging()) return;
    band_.Release(point, Image1->Stretch(), PictureSize(), Image1->size());
}

bool TfrmViewer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Image1) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            BandPress(static_cast<QMouseEvent*>(event)->position().toPoint());
            return true;
        case QEvent::MouseMove:
            BandMove(static_cast<QMouseEvent*>(event)->position().toPoint());
            return true;
        case QEvent::MouseButtonRelease:
            BandRelease(static_cast<QMouseEvent*>(event)->position().toPoint());
            return true;
        default:
            break;
        }
    } else if (watched == Panel1 && event->type() == QEvent::Resize) {
        FitImageToParent();
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace pixhold::viewer
