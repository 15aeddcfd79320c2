#include "app/Form4.h"

#include "app/LoadedFile.h"
#include "windowkit/Handlers.h"
#include "windowkit/Messages.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStorageInfo>
#include <QStringListModel>
#include <QTreeView>

namespace {

const QString Mask = QStringLiteral("*.txt");

QLabel* heading(QWidget* parent, const char* name, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    QFont font(QStringLiteral("Times New Roman"));
    font.setPixelSize(16);
    label->setFont(font);
    label->adjustSize();
    label->move(left, top);
    return label;
}

// Linux has no drive letters: the drives are the file system's root, the
// home folder and the media mounted where desktops mount them.
QStringList driveRoots() {
    QStringList roots{QDir::rootPath(), QDir::homePath()};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        const bool media = root.startsWith(QLatin1String("/media/")) ||
                           root.startsWith(QLatin1String("/mnt/")) ||
                           root.startsWith(QLatin1String("/run/media/"));
        if (media && volume.isValid() && volume.isReady() && !roots.contains(root))
            roots << root;
    }
    return roots;
}

// The drive a directory lies on: the longest root that holds it.
int driveOf(const QStringList& roots, const QString& directory) {
    int best = 0;
    for (int i = 0; i < roots.size(); ++i) {
        const QString prefix = roots[i].endsWith(u'/') ? roots[i] : roots[i] + u'/';
        const bool holds = directory == roots[i] || directory.startsWith(prefix);
        if (holds && roots[i].size() > roots[best].size())
            best = i;
    }
    return best;
}

} // namespace

TForm4::TForm4() : TFormBase(QStringLiteral("Abrir Arquivo"), {426, 389}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form4"));
    setToolTip(QStringLiteral("Habilita visualização do arquivo em Hexadecimal"));
    createControls();
    wireHandlers();
    OpenDirectory(QDir::currentPath());
}

void TForm4::createControls() {
    Label2 = heading(this, "Label2", QStringLiteral("Diretório:"), 24, 16);

    directories_ = new QFileSystemModel(this);
    directories_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    directories_->setRootPath(QDir::rootPath());
    DirectoryListBox1 = new QTreeView(this);
    DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
    DirectoryListBox1->setModel(directories_);
    for (int column = 1; column < directories_->columnCount(); ++column)
        DirectoryListBox1->hideColumn(column);
    DirectoryListBox1->setHeaderHidden(true);
    // A double click opens the folder through activated(); the tree's own
    // toggle on a double click would close it again at once.
    DirectoryListBox1->setExpandsOnDoubleClick(false);
    DirectoryListBox1->setToolTip(QStringLiteral("Selecione Diretório"));
    DirectoryListBox1->setGeometry(24, 42, 177, 215);
    DirectoryListBox1->installEventFilter(this);

    FileName = new QLineEdit(Mask, this);
    FileName->setObjectName(QStringLiteral("FileName"));
    FileName->setGeometry(24, 268, 177, 21);

    DriveComboBox1 = new QComboBox(this);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    DriveComboBox1->setGeometry(24, 299, 177, 19);

    Label1 = heading(this, "Label1", QStringLiteral("Arquivo:"), 240, 16);

    files_ = new QStringListModel(this);
    FileListBox1 = new QListView(this);
    FileListBox1->setObjectName(QStringLiteral("FileListBox1"));
    FileListBox1->setModel(files_);
    FileListBox1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FileListBox1->setToolTip(QStringLiteral("Selecione o arquivo binário"));
    FileListBox1->setGeometry(232, 39, 150, 282);

    BitBtn1 = bitBtn(this, "BitBtn1", QStringLiteral("Cancel"),
                     QIcon(QStringLiteral(":/pictures/close.png")), {168, 345, 97, 32}, 16);
    setCancelButton(BitBtn1);
    BitBtn2 = bitBtn(this, "BitBtn2", QStringLiteral("OK"),
                     QIcon(QStringLiteral(":/pictures/ok.png")), {288, 345, 97, 33}, 16);
    BitBtn2->setDefault(true);
}

void TForm4::wireHandlers() {
    connect(DriveComboBox1, &QComboBox::activated, this,
            handler(this, &TForm4::DriveComboBox1Change));
    connect(DirectoryListBox1, &QTreeView::activated, this,
            handler(this, &TForm4::DirectoryListBox1Open));
    connect(FileListBox1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            handler(this, &TForm4::FileListBox1Change));
    connect(FileListBox1, &QListView::doubleClicked, this,
            handler(this, &TForm4::FileListBox1DblClick));
    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm4::BitBtn1Click));
    connect(BitBtn2, &QPushButton::clicked, this, handler(this, &TForm4::BitBtn2Click));
}

// Media come and go while the program runs: the list is made again from
// what is mounted now, and shows the drive the open directory lies on.
int TForm4::refillDrives() {
    const QSignalBlocker quiet(DriveComboBox1);
    const QStringList roots = driveRoots();
    QStringList shown;
    for (int i = 0; i < DriveComboBox1->count(); ++i)
        shown << DriveComboBox1->itemText(i);
    if (shown != roots) {
        DriveComboBox1->clear();
        DriveComboBox1->addItems(roots);
    }
    const int drive = driveOf(roots, directory_);
    DriveComboBox1->setCurrentIndex(drive);
    return drive;
}

void TForm4::OpenDirectory(const QString& path) {
    directory_ = QDir(path).absolutePath();
    const int drive = refillDrives();
    DirectoryListBox1->setRootIndex(directories_->index(DriveComboBox1->itemText(drive)));
    const QModelIndex opened = directories_->index(directory_);
    DirectoryListBox1->setCurrentIndex(opened);
    DirectoryListBox1->expand(opened);
    DirectoryListBox1->scrollTo(opened, QAbstractItemView::PositionAtCenter);
    listFiles();
}

// The names in the open directory that match the mask, as Windows matches
// them: "RECIBO.TXT" is a text file too.
QStringList TForm4::matchingFiles() const {
    return QDir(directory_)
        .entryList({Mask}, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
}

void TForm4::listFiles() {
    files_->setStringList(matchingFiles());
    FileListBox1Change();
}

// Files may have come or gone while the dialog was hidden. What the operator
// left in the dialog stays: the chosen name, if it is still there, and the
// name field.
void TForm4::showEvent(QShowEvent* event) {
    // A directory on media taken out meanwhile gives way to the root.
    if (!QFileInfo(directory_).isDir())
        OpenDirectory(QDir::rootPath());
    refillDrives();
    const QStringList names = matchingFiles();
    if (names != files_->stringList()) {
        const QModelIndex chosen = FileListBox1->currentIndex();
        const QString name = chosen.isValid() ? chosen.data().toString() : QString();
        files_->setStringList(names);
        if (const int row = names.indexOf(name); !name.isEmpty() && row >= 0)
            FileListBox1->setCurrentIndex(files_->index(row));
    }
    TFormBase::showEvent(event);
}

void TForm4::DriveComboBox1Change(int index) {
    OpenDirectory(DriveComboBox1->itemText(index));
}

void TForm4::DirectoryListBox1Open(const QModelIndex& index) {
    OpenDirectory(directories_->filePath(index));
}

void TForm4::FileListBox1Change() {
    const QModelIndexList selected = FileListBox1->selectionModel()->selectedIndexes();
    if (selected.isEmpty()) {
        FileName->setText(Mask);
        return;
    }
    FileName->setText(selected.first().data().toString());
    FileName->selectAll();
}

// Enter in the directory list opens the chosen directory; it must not go on
// to the dialog and press OK.
bool TForm4::eventFilter(QObject* watched, QEvent* event) {
    if (watched != DirectoryListBox1 || event->type() != QEvent::KeyPress)
        return TFormBase::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    if (DirectoryListBox1->currentIndex().isValid())
        DirectoryListBox1Open(DirectoryListBox1->currentIndex());
    return true;
}

void TForm4::BitBtn1Click() {
    emit cancelled();
    hide();
}

void TForm4::BitBtn2Click() {
    LoadSelectedFile();
}

void TForm4::FileListBox1DblClick() {
    LoadSelectedFile();
}

// A failed open leaves the dialog up for another choice, and the file loaded
// before (if any) is still the one "&Enviar" sends.
void TForm4::LoadSelectedFile() {
    const QString name = FileName->text();
    emit opening();
    const std::optional<FileContents> contents = readTextFile(QDir(directory_).filePath(name));
    if (!contents) {
        Messages::openErrorBox(QStringLiteral("Erro na abertura do arquivo"));
        return;
    }
    storeLoadedFile(*contents);
    hide();
    emit fileLoaded(name);
}
