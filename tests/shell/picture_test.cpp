// The picture chooser's preview: size in pixels and a thumbnail, through libjpeg for JPEG files.
#include "shell/picturedialog.h"

#include <QDir>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace velmo;

namespace {

QString data(const char* name) {
    return QString::fromLocal8Bit(std::getenv("VELMO_TEST_DATA")) + "/" + name;
}

TEST(PicturePreview, ReportsTheFullSizeAndShrinksThePicture) {
    QSize size;
    const QImage jpeg = loadPreview(data("picture.jpg"), 160, &size);
    EXPECT_EQ(size, QSize(1200, 800));
    ASSERT_FALSE(jpeg.isNull());
    EXPECT_EQ(jpeg.width(), 160);
    EXPECT_NEAR(jpeg.height(), 107, 1);
    // The gradient runs from red at the top to blue at the bottom: the decoder kept the colours.
    EXPECT_GT(qRed(jpeg.pixel(80, 2)), 200);
    EXPECT_GT(qBlue(jpeg.pixel(80, 104)), 200);

    const QImage bmp = loadPreview(data("picture.bmp"), 160, &size);
    EXPECT_EQ(size, QSize(40, 30));
    EXPECT_EQ(bmp.size(), QSize(40, 30)); // small pictures are not blown up
}

TEST(PicturePreview, BrokenFilesGiveNoPictureAndNoSize) {
    for (const char* name : {"broken.jpg", "truncated.jpg", "missing.jpg"}) {
        QSize size(1, 1);
        EXPECT_TRUE(loadPreview(data(name), 160, &size).isNull()) << name;
        EXPECT_FALSE(size.isValid()) << name;
    }
}

TEST(PictureDialog, OffersTheFileTypesAndPreviewsTheSelection) {
    TPictureDialog dialog(nullptr, QString::fromLocal8Bit(std::getenv("VELMO_TEST_DATA")));
    const QStringList filters = dialog.nameFilters();
    ASSERT_EQ(filters.size(), 7);
    EXPECT_TRUE(filters[0].startsWith("Alle (*.jpg;*.jpeg;*.bmp;*gif)"));
    EXPECT_TRUE(filters[6].startsWith("Metadateien (*.wmf)"));
    dialog.showPreview(data("picture.jpg"));
    EXPECT_EQ(dialog.sizeText(), "1200 x 800");
    EXPECT_TRUE(dialog.hasPreview());
    dialog.showPreview(data("broken.jpg"));
    EXPECT_EQ(dialog.sizeText(), "");
    EXPECT_FALSE(dialog.hasPreview());
}

} // namespace
