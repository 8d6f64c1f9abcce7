#pragma once

#include "shell/shopwindow.h"

#include <QMap>

class QComboBox;
class QLineEdit;
class QPushButton;
class QListWidget;
class QListWidgetItem;

namespace velmo {

class Shop;

// Directory settings: the four local directories and the shop's document root. A directory picked
// in the tree goes into whichever of the four directory fields was entered last (the pick target).
class TForm10 : public ShopWindow {
    Q_OBJECT
public:
    explicit TForm10(Shop& shop, QWidget* parent = nullptr);

    QLineEdit* Edit1; // Programm
    QLineEdit* Edit2; // Daten
    QLineEdit* Edit3; // Bilder (groß)
    QLineEdit* Edit4; // Bilder (klein)
    QLineEdit* Edit5; // Shop Dokument - Root
    QComboBox* DriveComboBox1;
    // The directory tree of the selected drive: the current directory's ancestors from the drive
    // down, then its sub-directories. Double-click or Enter opens an entry.
    QListWidget* DirectoryListBox1;
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
    // Makes dir the tree's current directory (as opening it in the tree would).
    void setDirectory(const QString& dir);

protected:
    void opening() override { FormShow(); }
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pick();
    void fillTree();
    void openEntry(QListWidgetItem* item);
    QLineEdit* targetField() const;

    Shop& m_shop;
    int m_pickTarget = 0;
    QString m_directory;
    QMap<QString, QString> m_driveDirectory; // the directory each drive showed last
};

} // namespace velmo
