#pragma once

#include <QDialog>
#include <QMap>

class QComboBox;
class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace velmo {

// Directory settings: the four local directories and the shop's document root. A directory picked
// in the tree goes into whichever of the four directory fields was entered last (the pick target).
class TForm10 : public QDialog {
    Q_OBJECT
public:
    explicit TForm10(QWidget* parent = nullptr);

    QLineEdit* Edit1; // Programm
    QLineEdit* Edit2; // Daten
    QLineEdit* Edit3; // Bilder (groß)
    QLineEdit* Edit4; // Bilder (klein)
    QLineEdit* Edit5; // Shop Dokument - Root
    QComboBox* DriveComboBox1;
    QTreeView* DirectoryListBox1;
    QPushButton* Button1; // &OK
    QPushButton* Button2; // &Abbrechen

    // Handlers, callable from tests.
    void FormShow();
    void Button1Click();
    void DriveComboBox1Change();
    void DirectoryListBox1Change();

    int pickTarget() const { return m_pickTarget; }
    // The tree's current directory.
    QString directory() const { return m_directory; }
    // Makes dir the tree's current directory (as a click in the tree would).
    void setDirectory(const QString& dir);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pick();
    QLineEdit* targetField() const;

    QFileSystemModel* m_dirModel;
    int m_pickTarget = 0;
    QString m_directory;
    QMap<QString, QString> m_driveDirectory; // the directory each drive showed last
};

} // namespace velmo
