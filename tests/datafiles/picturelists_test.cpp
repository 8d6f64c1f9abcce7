#include "datafiles/picturelists.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using namespace velmo;
using namespace velmo::test;
using namespace velmo::datafiles;

TEST(PictureList, MissingFileIsAnEmptyList) {
    TempDir dir;
    EXPECT_TRUE(loadPictureList(dir.file(kPictureListFile)).empty());
    EXPECT_FALSE(fileExists(dir.file(kPictureListFile))) << "loading creates nothing";
}

TEST(PictureList, NamesKeepOrderAndRepeats) {
    TempDir dir;
    const std::string path = dir.file(kThumbListFile);
    // The same picture chosen twice is queued twice.
    const Lines names = {"tasse.jpg", "gro\xDF.jpg", "tasse.jpg"};
    savePictureList(path, names);
    EXPECT_EQ(readBytes(path), "tasse.jpg\r\ngro\xDF.jpg\r\ntasse.jpg\r\n");
    EXPECT_EQ(loadPictureList(path), names);
    savePictureList(path, {});
    EXPECT_EQ(readBytes(path), "");
    EXPECT_TRUE(loadPictureList(path).empty());
}
