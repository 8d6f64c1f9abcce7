// The program on the desktop: Qt's own dialogs and menus in German, the shop logo as the icon.
#include "shell/desktop.h"
#include "shell/logo.h"
#include "shell/picturedialog.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

using namespace velmo;

namespace {

class DesktopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { setUpDesktop(*qApp); }
};

TEST_F(DesktopTest, QtsOwnDialogsAndMenusSpeakGerman) {
    QTemporaryDir dir;
    TPictureDialog chooser(nullptr, dir.path());
    auto* buttons = chooser.findChild<QDialogButtonBox*>();
    ASSERT_TRUE(buttons);
    ASSERT_TRUE(buttons->button(QDialogButtonBox::Cancel));
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text().toStdString(), "Abbrechen")
        << "Qt's translations missing: install qt6-translations-l10n (scripts/deps)";
    EXPECT_EQ(chooser.labelText(QFileDialog::LookIn).toStdString(), "Suchen in:");
    EXPECT_EQ(chooser.labelText(QFileDialog::Accept).toStdString(), "&Öffnen");

    QLineEdit field(QStringLiteral("Text"));
    field.selectAll();
    const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    QStringList items;
    for (const QAction* action : menu->actions())
        if (!action->isSeparator())
            items << action->text().remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0);
    for (const char* item : {"Kopieren", "Einfügen", "Ausschneiden", "Alles auswählen"})
        EXPECT_TRUE(items.contains(QString::fromUtf8(item)))
            << item << " not in " << items.join(", ").toStdString();

    // Sizes and dates in Qt's dialogs follow the German conventions, whatever the system says.
    EXPECT_EQ(QLocale().toString(1234.5, 'f', 1).toStdString(), "1.234,5");
    EXPECT_EQ(QLocale().toString(QDate(2026, 12, 9), QLocale::ShortFormat).toStdString(), "09.12.26");
}

TEST_F(DesktopTest, EveryWindowCarriesTheShopLogo) {
    const QIcon icon = QApplication::windowIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(256, 256)));
    QDialog window;
    EXPECT_EQ(window.windowIcon().cacheKey(), icon.cacheKey());
}

TEST(ShopLogoTest, FillsItsSquareAtEverySize) {
    // The bag sits low in the square, the corners stay transparent, whatever the size.
    for (const int side : {16, 64, 256}) {
        const QImage image = shopLogoImage(side);
        ASSERT_EQ(image.size(), QSize(side, side));
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << side;
        EXPECT_EQ(qAlpha(image.pixel(side - 1, 0)), 0) << side;
        const QRgb bag = image.pixel(side * 3 / 16, side * 13 / 16);
        EXPECT_EQ(qAlpha(bag), 255) << side;
        EXPECT_GT(qBlue(bag), qRed(bag)) << side;
    }
}

} // namespace
