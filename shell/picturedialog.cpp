#include "shell/picturedialog.h"

#include <QFile>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QVBoxLayout>

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <memory>

namespace velmo {

namespace {

constexpr int kPreviewSide = 160;

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void onJpegError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void quietJpegMessage(j_common_ptr) {}

// Returns false for anything libjpeg cannot read as a JPEG.
bool decodeJpeg(const QString& path, int maxSide, QImage& image, QSize& fullSize) {
    const QByteArray name = QFile::encodeName(path);
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(name.constData(), "rb"), &std::fclose);
    if (!file)
        return false;

    jpeg_decompress_struct cinfo{};
    JpegErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onJpegError;
    err.pub.output_message = quietJpegMessage;
    // Everything that must survive the jump lives outside this frame's registers.
    QImage result;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file.get());
    jpeg_read_header(&cinfo, TRUE);
    fullSize = QSize(static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height));

    // Let the decoder scale by 1/2, 1/4 or 1/8 while the picture stays larger than the preview.
    unsigned denom = 1;
    while (denom < 8 && cinfo.image_width / (denom * 2) >= static_cast<unsigned>(maxSide) &&
           cinfo.image_height / (denom * 2) >= static_cast<unsigned>(maxSide))
        denom *= 2;
    cinfo.scale_num = 1;
    cinfo.scale_denom = denom;
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);

    result = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                    QImage::Format_RGB888);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = result.scanLine(static_cast<int>(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    image = std::move(result);
    return true;
}

bool isJpeg(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray magic = f.read(3);
    return magic == QByteArray("\xFF\xD8\xFF", 3);
}

} // namespace

QString pictureNameFilters() {
    // Description as shown, then the patterns Qt should match.
    const char* const filters[][2] = {
        {"Alle (*.jpg;*.jpeg;*.bmp;*gif)", "*.jpg *.jpeg *.bmp *.gif"},
        {"JPEG-Grafikdatei (*.jpg)", "*.jpg"},
        {"JPEG-Grafikdatei (*.jpeg)", "*.jpeg"},
        {"Bitmaps (*.bmp)", "*.bmp"},
        {"Symbole (*.ico)", "*.ico"},
        {"Erweiterte Metadateien (*.emf)", "*.emf"},
        {"Metadateien (*.wmf)", "*.wmf"},
    };
    QStringList list;
    for (const auto& f : filters)
        list << QStringLiteral("%1 (%2)").arg(QString::fromUtf8(f[0]), QString::fromLatin1(f[1]));
    return list.join(QStringLiteral(";;"));
}

QImage loadPreview(const QString& path, int maxSide, QSize* size) {
    QImage image;
    QSize full;
    if (isJpeg(path)) {
        if (!decodeJpeg(path, maxSide, image, full))
            full = QSize();
    } else {
        QImageReader reader(path);
        full = reader.size();
        image = reader.read();
        if (image.isNull())
            full = QSize();
        else if (!full.isValid())
            full = image.size();
    }
    if (size)
        *size = full;
    if (!image.isNull() && (image.width() > maxSide || image.height() > maxSide))
        image = image.scaled(maxSide, maxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

TPictureDialog::TPictureDialog(QWidget* parent, const QString& directory) : QFileDialog(parent) {
    setObjectName("PictureDialog");
    // The preview needs Qt's own dialog; a desktop's native one cannot host it.
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::HideNameFilterDetails);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setDirectory(directory);
    setNameFilter(pictureNameFilters());

    m_picture = new QLabel(this);
    m_picture->setFixedSize(kPreviewSide, kPreviewSide);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_size = new QLabel(this);
    m_size->setAlignment(Qt::AlignCenter);
    auto* preview = new QVBoxLayout;
    preview->addWidget(m_picture);
    preview->addWidget(m_size);
    preview->addStretch();
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addLayout(preview, 0, grid->columnCount(), grid->rowCount(), 1);

    connect(this, &QFileDialog::currentChanged, this, &TPictureDialog::showPreview);
}

void TPictureDialog::showPreview(const QString& path) {
    QSize full;
    const QImage image = path.isEmpty() ? QImage() : loadPreview(path, kPreviewSide, &full);
    m_picture->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
    m_size->setText(full.isValid() ? QStringLiteral("%1 x %2").arg(full.width()).arg(full.height())
                                   : QString());
}

QString TPictureDialog::sizeText() const {
    return m_size->text();
}

bool TPictureDialog::hasPreview() const {
    return !m_picture->pixmap().isNull();
}

} // namespace velmo
