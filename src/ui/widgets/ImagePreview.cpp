#include "ui/widgets/ImagePreview.h"

#include <QFileInfo>
#include <QImageReader>
#include <QMovie>
#include <QPainter>

namespace widgets {

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
}

void TImagePreview::ShowFrame(const QImage& frame) {
    FFrame = frame;
    update();
}

void TImagePreview::Navigate(const QString& hostPath) {
    StopMovie();
    FLocation = hostPath;
    FFrame = QImage();
    const QFileInfo info(hostPath);
    if (!info.isFile() || !info.isReadable()) {
        update();
        return;
    }
    QImageReader reader(hostPath);
    reader.setDecideFormatFromContent(true);
    if (reader.supportsAnimation() && reader.imageCount() != 1) {
        auto movie = std::make_unique<QMovie>(hostPath);
        if (movie->isValid()) {
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
