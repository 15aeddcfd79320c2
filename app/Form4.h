#pragma once

#include "windowkit/FormBase.h"

class QComboBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QListView;
class QModelIndex;
class QPushButton;
class QShowEvent;
class QStringListModel;
class QTreeView;

// "Abrir Arquivo": the open-file dialog. The drive selector moves the
// directory list, opening a directory fills the file list with its "*.txt"
// names, and picking a name writes it into FileName; OK (or a double click
// on a name) loads the file FileName names into LoadedFile and says so with
// its name. The main window stays disabled while the dialog is open; it
// hears when the operator cancels, when an open starts (a failed one leaves
// the dialog up and the main window's text empty) and what was loaded.
class TForm4 : public TFormBase {
    Q_OBJECT
public:
    TForm4();

    QLabel* Label2; // "Diretório:"
    QTreeView* DirectoryListBox1;
    QLineEdit* FileName;
    QComboBox* DriveComboBox1;
    QLabel* Label1; // "Arquivo:"
    QListView* FileListBox1;
    QPushButton* BitBtn1; // "Cancel"
    QPushButton* BitBtn2; // "OK"

    void BitBtn1Click();
    void BitBtn2Click();
    void FileListBox1DblClick();
    void LoadSelectedFile();

    // The directory the file list shows; a relative name in FileName is
    // found there.
    QString Directory() const { return directory_; }
    // Opens a directory, as a double click on it in the directory list does.
    void OpenDirectory(const QString& path);

signals:
    void cancelled();
    void opening();
    // LoadedFile now holds the file named name (as typed or picked).
    void fileLoaded(const QString& name);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createControls();
    void wireHandlers();
    void DriveComboBox1Change(int index);
    void DirectoryListBox1Open(const QModelIndex& index);
    void FileListBox1Change();
    QStringList matchingFiles() const;
    void listFiles();
    int refillDrives();

    QFileSystemModel* directories_;
    QStringListModel* files_;
    QString directory_;
};
