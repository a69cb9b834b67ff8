#include "fMain.h"

#include "About.h"
#include "Artwork.h"
#include "BusyCursor.h"
#include "CompletingComboBox.h"
#include "Config.h"
#include "ErrorReport.h"
#include "ImageListModel.h"
#include "Prompt.h"
#include "Thumbnail.h"

#include <QAction>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>
#include <QApplication>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QResizeEvent>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>

namespace pixhold::app {

// The area between the tool bar and the status bar: the list view, and behind
// it the preview picture anchored to the bottom-left corner, uncovered when
// the list moves right in list style.
class TListArea : public QWidget {
public:
    static constexpr int ListStyleLeft = 72;

    TListArea(QWidget* parent, QListView* list, QLabel* preview)
        : QWidget(parent), list_(list), preview_(preview) {
        list_->setParent(this);
        preview_->setParent(this);
        preview_->lower();
    }

    void SetListLeft(int left) {
        left_ = left;
        Arrange();
    }
    int ListLeft() const { return left_; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        Arrange();
    }

private:
    void Arrange() {
        list_->setGeometry(left_, 0, std::max(0, width() - left_), height());
        preview_->setGeometry(0, height() - imaging::TPH::ThumbSize, imaging::TPH::ThumbSize,
                              imaging::TPH::ThumbSize);
    }

    QListView* list_;
    QLabel* preview_;
    int left_ = 0;
};

TForm1::TForm1(IPrompt& prompt, TMainHooks hooks, QWidget* parent)
    : QMainWindow(parent),
      prompt_(prompt),
      hooks_(std::move(hooks)),
      help_(prompt, this),
      webPage_(prompt) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(AppTitle);
    setWindowIcon(ProgramIcon());
    setFont(QFont(QStringLiteral("Arial"), 8));

    BuildMenus();
    BuildToolBar();
    BuildList();

    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setSizeGripEnabled(true);
    StatusPanel = new QLabel(status);
    StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    status->addWidget(StatusPanel, 1);
    setStatusBar(status);

    // The client area is measured below the menu bar.
    resize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    FormCreate();
}

TForm1::~TForm1() {
    FormDestroy();
}

// ---- construction of the controls ----

QAction* TForm1::AddCommand(QMenu* menu, const char* name, const QString& caption,
                            const QString& shortcut) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) {
        action->setShortcut(QKeySequence(shortcut, QKeySequence::PortableText));
    }
    // Commands whose handler has not joined yet stay disabled (see BindCommand).
    action->setEnabled(false);
    menu->addAction(action);
    return action;
}

void TForm1::Connect(QAction* action, void (TForm1::*handler)()) {
    BindCommand(action, [this, handler] { (this->*handler)(); });
}

void TForm1::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    NewDatabase1 = AddCommand(file, "NewDatabase1", QStringLiteral("&New Database"), {});
    OpenDatabase1 = AddCommand(file, "OpenDatabase1", QStringLiteral("&Open Database"),
                               QStringLiteral("Ctrl+O"));
    DeleteCurrentDatabase1 = AddCommand(file, "DeleteCurrentDatabase1",
                                        QStringLiteral("Delete Current Database"), {});
    CompactDatabase1 = AddCommand(file, "CompactDatabase1", QStringLiteral("Comp&act Database"), {});
    RemoveOrphanedThumbs1 = AddCommand(file, "RemoveOrphanedThumbs1",
                                       QStringLiteral("&Remove Orphaned Thumbs"), {});
    ChangeDatabasePassword1 = AddCommand(file, "ChangeDatabasePassword1",
                                         QStringLiteral("Change Database &Password"), {});
    file->addSeparator();
    ImportImages1 = AddCommand(file, "ImportImages1", QStringLiteral("&Import Images"),
                               QStringLiteral("Ctrl+I"));
    ExportImages1 = AddCommand(file, "ExportImages1", QStringLiteral("&Export Images"), {});
    ExportImageThumbnails1 = AddCommand(file, "ExportImageThumbnails1",
                                        QStringLiteral("Export Image &Thumbnails"), {});
    ConvertImagestoThumbnails1 = AddCommand(file, "ConvertImagestoThumbnails1",
                                            QStringLiteral("Con&vert Images to Thumbnails"),
                                            QStringLiteral("Alt+T"));
    ChangeImageCategory1 = AddCommand(file, "ChangeImageCategory1",
                                      QStringLiteral("&Change Image Category"),
                                      QStringLiteral("Shift+Ctrl+C"));
    MoveImagestoDatabase1 = AddCommand(file, "MoveImagestoDatabase1",
                                       QStringLiteral("&Move Images to Database"),
                                       QStringLiteral("Alt+M"));
    file->addSeparator();
    BrowseFolder1 = AddCommand(file, "BrowseFolder1", QStringLiteral("&Browse Folder"),
                               QStringLiteral("Ctrl+B"));
    QuickFolderBrowse1 = AddCommand(file, "QuickFolderBrowse1",
                                    QStringLiteral("&Quick Folder Browse"), QStringLiteral("Ctrl+Q"));
    file->addSeparator();
    Exit1 = AddCommand(file, "Exit1", QStringLiteral("E&xit"), {});

    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("Edit1"));
    DeleteImage1 = AddCommand(edit, "DeleteImage1", QStringLiteral("&Delete Image"),
                              QStringLiteral("Del"));
    DeleteAll1 = AddCommand(edit, "DeleteAll1", QStringLiteral("D&elete All"), {});
    SelectAll1 = AddCommand(edit, "SelectAll1", QStringLiteral("&Select All"),
                            QStringLiteral("Ctrl+A"));

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("View1"));
    Thumbnailview1 = AddCommand(view, "Thumbnailview1", QStringLiteral("&Thumbnail view"), {});
    Thumbnailview1->setCheckable(true);
    view->addSeparator();
    Switchcategoryview1 = AddCommand(view, "Switchcategoryview1",
                                     QStringLiteral("&Switch category view"), QStringLiteral("Ctrl+S"));
    Options1 = AddCommand(view, "Options1", QStringLiteral("&Options"), {});
    Refresh1 = AddCommand(view, "Refresh1", QStringLiteral("&Refresh"), QStringLiteral("F5"));

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    Contents1 = AddCommand(help, "Contents1", QStringLiteral("Contents"), QStringLiteral("F1"));
    KeywordSearch1 = AddCommand(help, "KeywordSearch1", QStringLiteral("Keyword Search"), {});
    GettingStarted1 = AddCommand(help, "GettingStarted1", QStringLiteral("Getting Started"), {});
    help->addSeparator();
    PixholdWebPage1 = AddCommand(help, "PixholdWebPage1", QStringLiteral("Pixhold Web Page"), {});
    OtherNorvaneSoftware1 = AddCommand(help, "OtherNorvaneSoftware1",
                                       QStringLiteral("Other Norvane Software"), {});
    About1 = AddCommand(help, "About1", QStringLiteral("About"), {});

    // The commands that work on their own.
    BindCommand(Exit1, [this] { close(); });
    BindCommand(SelectAll1, [this] { ListView1->selectAll(); });
    Connect(Thumbnailview1, &TForm1::Thumbnailview1Click);
    BindCommand(Refresh1, [this] { RefreshImageList(); });
    Connect(BrowseFolder1, &TForm1::BrowseFolder1Click);
    BindCommand(Contents1, [this] {
        ShowHelpFile(QStringLiteral("Pixhold.hlp"), [](THelp& h) { h.ShowContents(); });
    });
    BindCommand(KeywordSearch1, [this] {
        ShowHelpFile(QStringLiteral("Pixhold.hlp"), [](THelp& h) { h.ShowIndex(); });
    });
    BindCommand(GettingStarted1, [this] {
        ShowHelpFile(QStringLiteral("Pixhold.hlp"), [](THelp& h) { h.ShowTopic(20); });
    });
    Connect(PixholdWebPage1, &TForm1::PixholdWebPage1Click);
    BindCommand(OtherNorvaneSoftware1, [this] {
        ShowHelpFile(QStringLiteral("Norv.hlp"), [](THelp& h) { h.ShowTopic(40); });
    });
    // The hooks that exist now enable their commands.
    if (hooks_.AskCategory) {
        Connect(Switchcategoryview1, &TForm1::Switchcategoryview1Click);
    }
    if (hooks_.ShowOptions) {
        BindCommand(Options1, [this] { hooks_.ShowOptions(); });
    }
    BindCommand(About1, [this] {
        if (hooks_.ShowAbout) {
            hooks_.ShowAbout();
        } else {
            ShowAboutBox();
        }
    });
}

void TForm1::BuildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setFixedHeight(29);
    // Narrow buttons and separators, so that both selectors fit beside them
    // in the window's width.
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { spacing: 0px; padding: 0px; }"
                                           "QToolBar::separator { width: 6px; }"));
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    struct TButton {
        QAction* Same;  // the menu entry it runs; null for a separator
        const char* Hint;
        TToolIcon Icon;
    };
    const TButton buttons[] = {
        {NewDatabase1, "Create new database", TToolIcon::NewDatabase},
        {OpenDatabase1, "Open a database", TToolIcon::OpenDatabase},
        {CompactDatabase1, "Compact current database", TToolIcon::CompactDatabase},
        {ChangeDatabasePassword1, "Change database password", TToolIcon::ChangePassword},
        {RemoveOrphanedThumbs1, "Remove orphaned thumbs", TToolIcon::RemoveOrphans},
        {nullptr, nullptr, TToolIcon::Help},
        {ImportImages1, "Import images into database", TToolIcon::Import},
        {ExportImages1, "Export selected images", TToolIcon::Export},
        {ChangeImageCategory1, "Change image category", TToolIcon::ChangeCategory},
        {MoveImagestoDatabase1, "Move selected images to database", TToolIcon::MoveToDatabase},
        {nullptr, nullptr, TToolIcon::Help},
        {BrowseFolder1, "Browse folder", TToolIcon::BrowseFolder},
        {QuickFolderBrowse1, "Quick folder browse", TToolIcon::QuickBrowse},
        {nullptr, nullptr, TToolIcon::Help},
        {DeleteImage1, "Delete selected images", TToolIcon::Delete},
        {nullptr, nullptr, TToolIcon::Help},
        {Thumbnailview1, "Switch view", TToolIcon::SwitchView},
        {Options1, "View program options", TToolIcon::Options},
        {Refresh1, "Refresh images", TToolIcon::Refresh},
        {nullptr, nullptr, TToolIcon::Help},
        {Contents1, "Help", TToolIcon::Help},
        {nullptr, nullptr, TToolIcon::Help},
    };
    for (const TButton& b : buttons) {
        if (b.Same == nullptr) {
            ToolBar1->addSeparator();
            continue;
        }
        // A button of its own (its hint is not the menu caption) that runs the
        // menu entry and follows its enabled state.
        auto* button = new QAction(ToolIcon(b.Icon), QString::fromUtf8(b.Hint), this);
        button->setObjectName(b.Same->objectName() + QStringLiteral("Button"));
        button->setToolTip(QString::fromUtf8(b.Hint));
        button->setEnabled(b.Same->isEnabled());
        QAction* same = b.Same;
        connect(button, &QAction::triggered, same, [same] { same->trigger(); });
        connect(same, &QAction::enabledChanged, button, &QAction::setEnabled);
        ToolBar1->addAction(button);
        if (QWidget* tool = ToolBar1->widgetForAction(button)) {
            tool->setFixedSize(23, 22);
        }
    }

    cboTable = new QComboBox(ToolBar1);
    cboTable->setObjectName(QStringLiteral("cboTable"));
    cboTable->setEditable(true);
    cboTable->setInsertPolicy(QComboBox::NoInsert);
    cboTable->setCompleter(nullptr);  // text completion off
    cboTable->setFixedWidth(100);
    cboTable->setToolTip(QStringLiteral("Table selector"));
    cboTable->setEditText(QStringLiteral("Default"));
    ToolBar1->addWidget(cboTable);

    // Text completion on.
    cboCategory = new TCompletingComboBox(ToolBar1);
    cboCategory->setObjectName(QStringLiteral("cboCategory"));
    cboCategory->setFixedWidth(100);
    cboCategory->setToolTip(QStringLiteral("Category selector"));
    ToolBar1->addWidget(cboCategory);

    // Only picking an entry counts; typing does nothing.
    connect(cboTable, &QComboBox::activated, this,
            [this](int index) { Guarded([this, index] { cboTableSelect(index); }); });
    connect(cboCategory, &QComboBox::activated, this,
            [this](int index) { Guarded([this, index] { cboCategorySelect(index); }); });
}

namespace {

// Files and folders dragged from a file manager onto the list.
class TDropWatch final : public QObject {
public:
    TDropWatch(QObject* parent, std::function<void(const QStringList&)> dropped)
        : QObject(parent), dropped_(std::move(dropped)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (!LocalPaths(drag->mimeData()).isEmpty()) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
                return true;
            }
            break;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList paths = LocalPaths(drop->mimeData());
            if (!paths.isEmpty()) {
                drop->setDropAction(Qt::CopyAction);
                drop->accept();
                dropped_(paths);
                return true;
            }
            break;
        }
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static QStringList LocalPaths(const QMimeData* data) {
        QStringList paths;
        if (data == nullptr) return paths;
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) paths.push_back(url.toLocalFile());
        }
        return paths;
    }

    std::function<void(const QStringList&)> dropped_;
};

// Enter on the list opens the viewer on the current entry, as a double click does.
class TEnterWatch final : public QObject {
public:
    TEnterWatch(QObject* parent, std::function<void()> entered)
        : QObject(parent), entered_(std::move(entered)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
                entered_();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> entered_;
};

}  // namespace

void TForm1::DropOnList(const QStringList& paths) {
    if (hooks_.ImportDropped) Guarded([this, &paths] { hooks_.ImportDropped(paths); });
}

void TForm1::BuildList() {
    model_ = new TImageListModel(imageList_, this);

    ListView1 = new QListView;
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setModel(model_);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setFrameShape(QFrame::StyledPanel);
    QPalette palette = ListView1->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    // The selection stays visible when the list has no focus.
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    ListView1->setPalette(palette);

    Image1 = new QLabel;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAlignment(Qt::AlignCenter);

    listArea_ = new TListArea(this, ListView1, Image1);
    setCentralWidget(listArea_);
    ListView1->setFocus();

    ListView1->setAcceptDrops(true);
    ListView1->viewport()->setAcceptDrops(true);
    ListView1->viewport()->installEventFilter(
        new TDropWatch(this, [this](const QStringList& paths) { DropOnList(paths); }));

    ListView1->installEventFilter(new TEnterWatch(this, [this] {
        // The current entry counts even when the keyboard moved off the
        // selection.
        const QModelIndex current = ListView1->currentIndex();
        if (current.isValid() && !ListView1->selectionModel()->isSelected(current)) {
            ListView1->selectionModel()->select(current, QItemSelectionModel::ClearAndSelect);
        }
        Guarded([this] { ListView1DblClick(); });
    }));

    connect(ListView1, &QListView::clicked, this,
            [this] { Guarded([this] { ListView1Click(); }); });
    connect(ListView1, &QListView::doubleClicked, this,
            [this] { Guarded([this] { ListView1DblClick(); }); });
}

// ---- creation and destruction ----

void TForm1::FormCreate() {
    try {
        config_ = std::make_unique<TConfig>();
        config_->OnSaveError = [this](const std::string& message) {
            prompt_.Message(AppTitle, QString::fromStdString(message), TMsgIcon::None);
        };
        ph_ = std::make_unique<imaging::TPH>();
        model_->SetHelper(ph_.get());
        imageList_.SetPlaceholder(imaging::LoadThumbPlaceholder(config_->ProgramFolder));
        help_.SetHelpFile(ProgramFolder() + QStringLiteral("Pixhold.hlp"));
        Thumbnailview1->setChecked(config_->ThumbnailView);
        // Qt paints every widget double-buffered already.
        config_->QuickBrowse = false;
        FillTableSelector();
        ApplyViewStyle();
    } catch (...) {
        ReportException(prompt_, std::current_exception());
    }
}

void TForm1::FormDestroy() {
    // The list must not ask for names while the helper goes away.
    ListView1->setModel(nullptr);
    delete model_;
    model_ = nullptr;
    ph_.reset();
    // Saving happens in the settings' destructor; a failure reaches
    // OnSaveError, which shows it, and shut-down goes on.
    config_.reset();
}

// ---- operations ----

void TForm1::FillTableSelector() {
    if (hooks_.ListImageTables) {
        cboTable->clear();
        cboTable->addItems(hooks_.ListImageTables());
    }
    cboTable->setEditText(QString::fromStdString(config_->CurrentTable));
}

void TForm1::RefreshImageList() {
    TBusyCursor busy;
    Image1->clear();
    model_->SetItemCount(0);
    // Whatever the rebuild managed is shown, also when it fails half-way.
    struct TShowNames {
        TForm1& form;
        ~TShowNames() {
            form.filling_ = false;
            const int count = static_cast<int>(form.ph_->ImageNames.size());
            if (count >= form.model_->rowCount()) {
                form.model_->GrowTo(count);
            } else {
                form.model_->SetItemCount(count);
            }
        }
    } showNames{*this};
    filling_ = true;
    sinceShown_.start();
    ph_->FillImageList(imageList_);
}

void TForm1::ShowFilledSoFar() {
    // A few times a second is fluid enough and keeps the view's layout work small.
    constexpr qint64 kIntervalMs = 150;
    if (!filling_ || sinceShown_.elapsed() < kIntervalMs) return;
    sinceShown_.restart();
    // Entries are appended only once their thumbnail is in the image list,
    // so every name so far can be shown.
    if (ph_->ThumbBitmaps.empty() || ph_->ThumbBitmaps.size() == static_cast<std::size_t>(ph_->ImageNames.size())) {
        model_->GrowTo(static_cast<int>(ph_->ImageNames.size()));
    }
}

void TForm1::RemoveListItem(const QString& name) {
    const qsizetype i = ph_->ImageNames.lastIndexOf(name);
    if (i < 0) {
        return;
    }
    model_->DeleteItem(static_cast<int>(i), [this, i] {
        ph_->ImageNames.removeAt(i);
        if (!ph_->ThumbBitmaps.empty()) {
            const auto at = static_cast<std::size_t>(i);
            if (at < ph_->ThumbBitmaps.size()) {
                ph_->ThumbBitmaps.erase(ph_->ThumbBitmaps.begin() + i);
            }
            imageList_.Delete(at);
        }
    });
}

void TForm1::ApplyViewStyle() {
    if (config_->ThumbnailView) {
        listArea_->SetListLeft(0);
        ListView1->setViewMode(QListView::IconMode);
        ListView1->setIconSize(QSize(imaging::TPH::ThumbSize, imaging::TPH::ThumbSize));
        ListView1->setGridSize(QSize(96, imaging::TPH::ThumbSize + 34));
        ListView1->setWordWrap(true);
        ListView1->setFlow(QListView::LeftToRight);
        // Every cell is the same grid square: no need to measure each entry.
        ListView1->setUniformItemSizes(true);
    } else {
        listArea_->SetListLeft(TListArea::ListStyleLeft);
        ListView1->setViewMode(QListView::ListMode);
        ListView1->setIconSize(QSize());
        ListView1->setGridSize(QSize());
        ListView1->setWordWrap(false);
        ListView1->setFlow(QListView::TopToBottom);
        // Columns as wide as their longest name.
        ListView1->setUniformItemSizes(false);
    }
    // Auto-arranged, in columns in list style.
    ListView1->setMovement(QListView::Static);
    ListView1->setResizeMode(QListView::Adjust);
    ListView1->setWrapping(true);
    model_->SetShowPictures(config_->ThumbnailView);
    SetStatusText(QStringLiteral("Database: ") + QString::fromStdString(config_->CurrentTable));
}

void TForm1::FillCategorySelector() {
    // The shown category stays in the edit part while the entries change.
    const QString shown = cboCategory->currentText();
    cboCategory->clear();
    if (hooks_.GetCategoryList) {
        cboCategory->addItems(hooks_.GetCategoryList(QString::fromStdString(config_->CurrentTable)));
    }
    cboCategory->insertItem(0, QStringLiteral("All"));
    cboCategory->setEditText(shown);
}

bool TForm1::ChooseBrowseFolder() {
    const std::optional<QString> chosen =
        prompt_.ChooseFolder(QString::fromStdString(config_->LastBrowseDir));
    if (!chosen) {
        return false;
    }
    QString folder = *chosen;
    if (!folder.endsWith(u'/')) {
        folder += u'/';
    }
    config_->LastBrowseDir = folder.toStdString();
    config_->BrowseMode = true;
    RefreshImageList();
    SetStatusText(QStringLiteral("Folder: ") + folder);
    return true;
}

void TForm1::RunOnSelected(const QString& command) {
    if (hooks_.RunOnSelected) hooks_.RunOnSelected(command);
}

void TForm1::SetStatusText(const QString& text) {
    StatusPanel->setText(text);
}

QString TForm1::StatusText() const {
    return StatusPanel->text();
}

void TForm1::BindCommand(QAction* action, std::function<void()> handler) {
    disconnect(action, &QAction::triggered, this, nullptr);
    connect(action, &QAction::triggered, this,
            [this, handler = std::move(handler)] { Guarded(handler); });
    action->setEnabled(true);
}

void TForm1::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        ReportException(prompt_, std::current_exception());
    }
}

void TForm1::SetBrowserLauncher(TWebPageOpener::TLauncher launcher) {
    webPage_.SetLauncher(std::move(launcher));
}

QString TForm1::ProgramFolder() const {
    return config_ ? QString::fromStdString(config_->ProgramFolder) : QString();
}

void TForm1::ShowHelpFile(const QString& fileName, const std::function<void(THelp&)>& request) {
    help_.SetHelpFile(ProgramFolder() + fileName);
    request(help_);
}

// ---- event handlers ----

int TForm1::SelectedIndex() const {
    const QItemSelectionModel* selection = ListView1->selectionModel();
    if (selection == nullptr) {
        return -1;
    }
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isSelected(current)) {
        return current.row();
    }
    int first = -1;
    for (const QModelIndex& index : selection->selectedIndexes()) {
        if (first < 0 || index.row() < first) {
            first = index.row();
        }
    }
    return first;
}

void TForm1::ListView1Click() {
    if (config_->ThumbnailView) {
        return;
    }
    const int i = SelectedIndex();
    if (i < 0) {
        return;
    }
    // Quick browsing has no thumbnails: no preview then.
    const auto at = static_cast<std::size_t>(i);
    if (at < ph_->ThumbBitmaps.size()) {
        Image1->setPixmap(QPixmap::fromImage(imageList_.Picture(at)));
    } else {
        Image1->clear();
    }
}

void TForm1::ListView1DblClick() {
    const int i = SelectedIndex();
    if (i < 0) {
        return;
    }
    ph_->ViewerIndex = i;
    if (hooks_.OpenViewer) {
        hooks_.OpenViewer();
    }
}

void TForm1::cboTableSelect(int index) {
    if (!hooks_.OpenImageTable || index < 0) {
        return;
    }
    if (hooks_.OpenImageTable(cboTable->itemText(index))) {
        config_->CurrentCategory.clear();
        cboCategory->setEditText(QString());
        FillCategorySelector();
    }
}

void TForm1::cboCategorySelect(int index) {
    if (index < 0) {
        return;
    }
    config_->CurrentCategory = cboCategory->itemText(index).toStdString();
    if (hooks_.ApplyCategoryFilter) {
        hooks_.ApplyCategoryFilter();
    } else {
        RefreshImageList();
    }
}

void TForm1::Thumbnailview1Click() {
    config_->ThumbnailView = !config_->ThumbnailView;
    Thumbnailview1->setChecked(config_->ThumbnailView);
    ApplyViewStyle();
}

void TForm1::Switchcategoryview1Click() {
    const QString answer = hooks_.AskCategory();
    if (answer == QStringLiteral("\t")) {
        return;
    }
    config_->CurrentCategory = answer.toStdString();
    cboCategory->setEditText(answer);
    if (hooks_.ApplyCategoryFilter) {
        hooks_.ApplyCategoryFilter();
    } else {
        RefreshImageList();
    }
}

void TForm1::BrowseFolder1Click() {
    config_->QuickBrowse = false;
    ChooseBrowseFolder();
}

void TForm1::ShowAboutBox() {
    TAboutBox box(webPage_,
                  [this] {
                      ShowHelpFile(QStringLiteral("Pixhold.hlp"),
                                   [](THelp& h) { h.ShowTopic(TAboutBox::HelpContext); });
                  },
                  this);
    box.exec();
}

void TForm1::PixholdWebPage1Click() {
    webPage_.OpenWebPage(ProductWebPage, true);
}

}  // namespace pixhold::app
