// Every window the program can open, read through the accessibility tree as a screen reader reads
// it: each window has a title, and each field, list, grid, box and button a name.
#include "catalog/artedit.h"
#include "catalog/artikel.h"
#include "catalog/kataloge.h"
#include "catalog/katneu.h"
#include "ftpbrowser/chmod.h"
#include "ftpbrowser/ftpedit.h"
#include "ftpbrowser/mkdir.h"
#include "orders/bestell.h"
#include "orders/invoicesettingswindow.h"
#include "orders/print.h"
#include "report/preview.h"
#include "shell/currency.h"
#include "shell/info.h"
#include "shell/main.h"
#include "shell/overz.h"
#include "shell/picturedialog.h"
#include "shell/shop.h"
#include "statistics/u_artikel.h"
#include "statistics/u_preis.h"
#include "sync/connect.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QAccessible>
#include <QLineEdit>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>

using namespace velmo;
using namespace velmo::test;

namespace {

// The roles a user works with and a screen reader must be able to name.
const std::set<QAccessible::Role> kNamedRoles = {
    QAccessible::EditableText, QAccessible::List,     QAccessible::Table,      QAccessible::Tree,
    QAccessible::PushButton,   QAccessible::ComboBox, QAccessible::SpinBox,    QAccessible::CheckBox,
    QAccessible::RadioButton,  QAccessible::Slider,   QAccessible::ButtonMenu, QAccessible::ButtonDropDown,
    QAccessible::PageTabList,
};

// Roles whose children are their rows and cells: named by their content, not walked.
const std::set<QAccessible::Role> kContainers = {QAccessible::List, QAccessible::Table, QAccessible::Tree};

QString describe(QAccessibleInterface* node) {
    QString what = QString::number(node->role(), 16);
    if (const QObject* object = node->object()) {
        what = QString::fromLatin1(object->metaObject()->className());
        if (!object->objectName().isEmpty())
            what += QLatin1Char(' ') + object->objectName();
    }
    return what;
}

// Adds "path > class name" of every node below node that needs a name and has none.
void collectUnnamed(QAccessibleInterface* node, const QString& path, QStringList& unnamed) {
    const QString here = path + QStringLiteral(" > ") + describe(node);
    if (kNamedRoles.count(node->role()) && node->text(QAccessible::Name).trimmed().isEmpty())
        unnamed << here;
    if (kContainers.count(node->role()))
        return;
    const bool comboBox = node->role() == QAccessible::ComboBox;
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface* child = node->child(i);
        // A box's drop-down list belongs to the box and is read with its name; its own text field
        // is where the cursor stands, so that needs a name of its own.
        if (child && (!comboBox || child->role() == QAccessible::EditableText))
            collectUnnamed(child, here, unnamed);
    }
}

// The program's windows, each built as its own tests build it, over the scripted dialog seam.
struct Program {
    TempDir dir;
    ScriptedDialogs seam;
    Shop shop{seam};
    OrderValues orderValues;
    TForm9 currency{seam};
    TForm1 main{shop, currency};
    TForm3* form3 = new TForm3(seam, &main);
    TForm2* form2 = new TForm2(shop, *form3, &main);
    TForm5* form5 = new TForm5(shop, &main);
    TForm4* form4 = new TForm4(shop, *form5, &main);
    TForm6* form6 = new TForm6(shop, &main);
    TForm8* form8 = new TForm8(shop, orderValues, &main);
    TForm7* form7 = new TForm7(shop, orderValues, *form8, &main);
    InvoiceSettingsWindow* invoiceSettings = new InvoiceSettingsWindow(shop, &main);
    TAboutBox* about = new TAboutBox(seam, &main);
    TForm10* form10 = new TForm10(shop, &main);
    TForm11* form11 = new TForm11(
        shop, [] {}, &main);
    TForm14* form14 = new TForm14(shop, &main);
    TForm15* form15 = new TForm15(shop, &main);
    TPictureDialog* pictures = new TPictureDialog(&main, QString::fromStdString(dir.path()));
    report::Report report;
    report::PreviewWindow* preview = new report::PreviewWindow(report, {}, form7);
};

TEST(Accessibility, EveryWindowHasATitleAndEveryControlAName) {
    Program p;
    const std::vector<QWidget*> windows = {
        &p.main,
        &p.currency,
        p.form2,
        p.form3,
        p.form4,
        p.form5,
        p.form6,
        p.form7,
        p.invoiceSettings,
        p.about,
        p.form10,
        p.form11,
        p.form11->PermissionsDialog,
        p.form11->NewDirDialog,
        p.form14,
        p.form15,
        p.pictures,
        p.preview,
    };
    for (QWidget* window : windows) {
        SCOPED_TRACE(window->metaObject()->className());
        EXPECT_FALSE(window->windowTitle().trimmed().isEmpty()) << "a window without a title";
        QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window);
        ASSERT_NE(root, nullptr);
        QStringList unnamed;
        collectUnnamed(root, window->objectName(), unnamed);
        EXPECT_TRUE(unnamed.isEmpty())
            << "without an accessible name:\n  " << unnamed.join(QStringLiteral("\n  ")).toStdString();
    }
}

// The walk itself finds what it is meant to find.
TEST(Accessibility, TheWalkNamesAnUnnamedField) {
    QWidget window;
    window.setObjectName("Probe");
    auto* named = new QLineEdit(&window);
    named->setAccessibleName(QStringLiteral("Name"));
    auto* bare = new QLineEdit(&window);
    bare->setObjectName("Bare");
    QStringList unnamed;
    collectUnnamed(QAccessible::queryAccessibleInterface(&window), window.objectName(), unnamed);
    ASSERT_EQ(unnamed.size(), 1) << unnamed.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(unnamed[0].endsWith(QStringLiteral("QLineEdit Bare"))) << unnamed[0].toStdString();
}

} // namespace
