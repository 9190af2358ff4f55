#include "ui/widgets/ImagePreview.h"

#include "platform/PathMapper.h"
#include "platform/ProfileBoundary.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMovie>
#include <QPainter>

namespace widgets {

namespace {

// Larger cached pictures are not shown: the preview would hold them whole.
constexpr std::size_t kMaxPictureBytes = 64u << 20;

// The picture file's bytes, read only from a regular file inside the profile (links resolved)
// and only when it is within the bound; empty for anything else.
QByteArray ReadPictureBytes(const QString& hostPath) {
    const auto bytes = platform::ReadFileInsideProfile(
        platform::CurrentProfile(), QFile::encodeName(hostPath).toStdString(), kMaxPictureBytes);
    return bytes ? QByteArray::fromStdString(*bytes) : QByteArray();
}

} // namespace

TImagePreview::TImagePreview(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

TImagePreview::~TImagePreview() = default;

void TImagePreview::StopMovie() {
    if (FMovie) {
        FMovie->stop();
        FMovie.reset();
    }
    FMovieSource.reset();
}

void TImagePreview::ShowFrame(const QImage& frame) {
    FFrame = frame;
    update();
}

void TImagePreview::Navigate(const QString& hostPath) {
    StopMovie();
    FLocation = hostPath;
    FFrame = QImage();
    const QByteArray bytes = ReadPictureBytes(hostPath);
    if (bytes.isEmpty()) {
        update();
        return;
    }
    QBuffer source;
    source.setData(bytes);
    QImageReader reader(&source);
    reader.setDecideFormatFromContent(true);
    if (reader.supportsAnimation() && reader.imageCount() != 1) {
        auto movieSource = std::make_unique<QBuffer>();
        movieSource->setData(bytes);
        auto movie = std::make_unique<QMovie>(movieSource.get());
        if (movie->isValid()) {
            FMovieSource = std::move(movieSource);
            FMovie = std::move(movie);
            connect(FMovie.get(), &QMovie::frameChanged, this,
                    [this](int) { ShowFrame(FMovie->currentImage()); });
            FMovie->start();
            return;
        }
    }
    ShowFrame(reader.read()); // a null image when it cannot be decoded
}

void TImagePreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (FFrame.isNull() || width() <= 0 || height() <= 0)
        return;
    QSize fitted = FFrame.size();
    if (fitted.width() > width() || fitted.height() > height())
        fitted.scale(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2),
                       fitted);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, FFrame);
}

} // namespace widgets
