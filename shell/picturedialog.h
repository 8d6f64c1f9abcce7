#pragma once

#include <QFileDialog>
#include <QImage>
#include <QString>

class QLabel;

namespace velmo {

// The file types the picture chooser offers, as a Qt name filter list: each entry shows its own
// description, the patterns Qt matches stay hidden.
QString pictureNameFilters();

// Decodes a picture for the preview. JPEG files go straight through libjpeg, scaled down in the
// decoder towards maxSide so that a large photo previews fast; other formats through Qt's readers.
// size receives the picture's full size in pixels. A file that is no readable picture gives a
// null image and an invalid size.
QImage loadPreview(const QString& path, int maxSide, QSize* size);

// An open-file dialog for pictures with a preview of the selected file and its size in pixels.
class TPictureDialog : public QFileDialog {
    Q_OBJECT
public:
    TPictureDialog(QWidget* parent, const QString& directory);

    // The preview shown for path ("" clears it); public for tests.
    void showPreview(const QString& path);
    QString sizeText() const;
    bool hasPreview() const;

private:
    QLabel* m_picture;
    QLabel* m_size;
};

} // namespace velmo
