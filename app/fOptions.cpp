#include "fOptions.h"

#include "BusyCursor.h"
#include "Config.h"
#include "DataModuleHost.h"
#include "ErrorReport.h"
#include "Prompt.h"
#include "fDM.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace pixhold::app {

namespace {

const QString kMoveQuestion = QStringLiteral("Move all data tables to new location?");

QString Joined(const std::vector<std::string>& names) {
    QStringList list;
    for (const std::string& name : names) list << QString::fromStdString(name);
    return list.join(QStringLiteral(", "));
}

QCheckBox* AddCheck(QWidget* owner, QVBoxLayout* group, const char* name, const QString& caption, bool value) {
    auto* box = new QCheckBox(caption, owner);
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(value);
    group->addWidget(box);
    return box;
}

}  // namespace

void TDataModuleOptionsActions::DisconnectDatabase() { dm_.DisconnectDatabase(); }
void TDataModuleOptionsActions::ConnectDatabase() { dm_.ConnectDatabase(); }
store::TDataFolderMove TDataModuleOptionsActions::MoveDataTables(const std::string& oldFolder,
                                                                 const std::string& newFolder) {
    return store::MoveDataTables(oldFolder, newFolder);
}

TfrmOptions::TfrmOptions(store::TConfig& config, IPrompt& prompt, IOptionsActions& actions,
                         std::function<void()> showHelp, QWidget* parent)
    : TFixedDialog(QStringLiteral("frmOptions"), QStringLiteral("Program Options"), QSize(ClientWidth, ClientHeight),
                   showHelp, parent),
      config_(config),
      prompt_(prompt),
      actions_(actions),
      showHelp_(std::move(showHelp)) {
    pcOptions = new QTabWidget(this);
    pcOptions->setObjectName(QStringLiteral("pcOptions"));

    tsGeneral = new QWidget;
    tsGeneral->setObjectName(QStringLiteral("tsGeneral"));
    auto* fileGroup = new QGroupBox(QStringLiteral("File Options"), tsGeneral);
    auto* fileLayout = new QVBoxLayout(fileGroup);
    chkDeleteFilesAfterImport = AddCheck(fileGroup, fileLayout, "chkDeleteFilesAfterImport",
                                         QStringLiteral("Delete files after import"), config_.DeleteFilesAfterImport);
    chkDeleteFilesAfterExport = AddCheck(fileGroup, fileLayout, "chkDeleteFilesAfterExport",
                                         QStringLiteral("Delete files after export"), config_.DeleteFilesAfterExport);
    chkRecurseFoldersOnImport = AddCheck(fileGroup, fileLayout, "chkRecurseFoldersOnImport",
                                         QStringLiteral("Recurse folders on import"), config_.RecurseFoldersOnImport);
    chkUseFoldersAsCategoriesOnImport =
        AddCheck(fileGroup, fileLayout, "chkUseFoldersAsCategoriesOnImport",
                 QStringLiteral("Use subfolders as categories on import"), config_.UseFoldersAsCategoriesOnImport);
    chkConfirmDelete = AddCheck(fileGroup, fileLayout, "chkConfirmDelete", QStringLiteral("Confirm file deletes"),
                                config_.ConfirmDelete);
    auto* viewerGroup = new QGroupBox(QStringLiteral("Viewer Options"), tsGeneral);
    auto* viewerLayout = new QVBoxLayout(viewerGroup);
    chkStretchImageToFit = AddCheck(viewerGroup, viewerLayout, "chkStretchImageToFit",
                                    QStringLiteral("Stretch image to fit"), config_.StretchImageToFit);
    auto* general = new QVBoxLayout(tsGeneral);
    general->addWidget(fileGroup);
    general->addWidget(viewerGroup);
    general->addStretch();

    tsData = new QWidget;
    tsData->setObjectName(QStringLiteral("tsData"));
    auto* dbGroup = new QGroupBox(QStringLiteral("Database Options"), tsData);
    auto* dbLayout = new QVBoxLayout(dbGroup);
    auto* pathLabel = new QLabel(QStringLiteral("Database location:"), dbGroup);
    edtDBPath = new QLineEdit(QString::fromStdString(config_.DataFolder), dbGroup);
    edtDBPath->setObjectName(QStringLiteral("edtDBPath"));
    pathLabel->setBuddy(edtDBPath);
    btnDBBrowse = new QPushButton(QStringLiteral("\u2026"), dbGroup);
    btnDBBrowse->setObjectName(QStringLiteral("btnDBBrowse"));
    QFont bold = btnDBBrowse->font();
    bold.setBold(true);
    btnDBBrowse->setFont(bold);
    btnDBBrowse->setFixedWidth(28);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(edtDBPath);
    pathRow->addWidget(btnDBBrowse);
    dbLayout->addWidget(pathLabel);
    dbLayout->addLayout(pathRow);
    chkStoreFileThumbsInDatabase =
        AddCheck(dbGroup, dbLayout, "chkStoreFileThumbsInDatabase", QStringLiteral("Store file thumbs in database"),
                 config_.StoreFileThumbsInDatabase);
    chkRemoveOldPasswordOnOpen =
        AddCheck(dbGroup, dbLayout, "chkRemoveOldPasswordOnOpen", QStringLiteral("Remove old password on open"),
                 config_.RemoveOldPasswordOnOpen);
    auto* data = new QVBoxLayout(tsData);
    data->addWidget(dbGroup);
    data->addStretch();

    pcOptions->addTab(tsGeneral, QStringLiteral("General"));
    pcOptions->addTab(tsData, QStringLiteral("Data"));
    pcOptions->setCurrentWidget(tsGeneral);

    tnOK = new QPushButton(QStringLiteral("OK"), this);
    tnOK->setObjectName(QStringLiteral("tnOK"));
    tnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnHelp = new QPushButton(QStringLiteral("Help"), this);
    btnHelp->setObjectName(QStringLiteral("btnHelp"));
    btnHelp->setAutoDefault(false);
    connect(tnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnHelp, &QPushButton::clicked, this, [this] {
        if (showHelp_) showHelp_();
    });
    connect(btnDBBrowse, &QPushButton::clicked, this, [this] { btnDBBrowseClick(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(tnOK);
    buttons->addWidget(btnCancel);
    buttons->addWidget(btnHelp);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pcOptions);
    layout->addLayout(buttons);
}

bool TfrmOptions::Run() { return exec() == QDialog::Accepted; }

void TfrmOptions::btnDBBrowseClick() {
    const std::optional<QString> folder = prompt_.ChooseFolder(QString::fromStdString(config_.DataFolder));
    if (!folder) return;
    edtDBPath->setText(folder->endsWith(QLatin1Char('/')) ? *folder : *folder + QLatin1Char('/'));
}

void TfrmOptions::btnOKClick() {
    QString path = edtDBPath->text();
    // A relative or empty location would put the tables wherever the program
    // happens to run; nothing is changed until it is a full path.
    if (path.trimmed().isEmpty() || !QDir::isAbsolutePath(path)) {
        pcOptions->setCurrentWidget(tsData);
        edtDBPath->setFocus();
        prompt_.Message(AppTitle, QStringLiteral("The database location must be a full folder path."),
                        TMsgIcon::None);
        return;
    }
    config_.DeleteFilesAfterImport = chkDeleteFilesAfterImport->isChecked();
    config_.DeleteFilesAfterExport = chkDeleteFilesAfterExport->isChecked();
    config_.RecurseFoldersOnImport = chkRecurseFoldersOnImport->isChecked();
    config_.UseFoldersAsCategoriesOnImport = chkUseFoldersAsCategoriesOnImport->isChecked();
    config_.ConfirmDelete = chkConfirmDelete->isChecked();
    config_.StretchImageToFit = chkStretchImageToFit->isChecked();
    config_.StoreFileThumbsInDatabase = chkStoreFileThumbsInDatabase->isChecked();
    config_.RemoveOldPasswordOnOpen = chkRemoveOldPasswordOnOpen->isChecked();

    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    if (path.compare(QString::fromStdString(config_.DataFolder), Qt::CaseInsensitive) != 0) {
        ChangeDataFolder(path.toStdString());
    }
    accept();
}

void TfrmOptions::ChangeDataFolder(const std::string& folder) {
    const std::string oldFolder = config_.DataFolder;
    std::exception_ptr failure;
    std::optional<store::TDataFolderMove> moved;
    {
        TBusyCursor busy;
        try {
            actions_.DisconnectDatabase();
            if (prompt_.Ask(store::ConfirmCaption, kMoveQuestion, TButtons::YesNo, TMsgIcon::Confirmation) ==
                TAnswer::Yes) {
                moved = actions_.MoveDataTables(oldFolder, folder);
            }
        } catch (...) {
            failure = std::current_exception();
        }
        // The new folder becomes the data folder and the database is
        // connected again whatever happened before.
        config_.DataFolder = folder;
        try {
            actions_.ConnectDatabase();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) ReportException(prompt_, failure);
    if (moved) ReportMove(*moved, oldFolder, folder);
}

void TfrmOptions::ReportMove(const store::TDataFolderMove& move, const std::string& oldFolder,
                             const std::string& newFolder) {
    const QString from = QString::fromStdString(oldFolder);
    if (!move.StayedBehind.empty()) {
        prompt_.Message(AppTitle,
                        QStringLiteral("These databases could not be moved to %1 and are still in %2: %3\n\n%4")
                            .arg(QString::fromStdString(newFolder), from, Joined(move.StayedBehind),
                                 QString::fromStdString(move.Error)),
                        TMsgIcon::Warning);
    }
    if (!move.OldFilesLeft.empty()) {
        prompt_.Message(AppTitle,
                        QStringLiteral("These databases were moved, but some of their old files could not be "
                                       "removed from %1: %2")
                            .arg(from, Joined(move.OldFilesLeft)),
                        TMsgIcon::Warning);
    }
}

}  // namespace pixhold::app
