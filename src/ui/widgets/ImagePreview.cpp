#include "ui/widgets/ImagePreview.h"

#include "platform/PathMapper.h"
#include "platform/ProfileBoundary.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMovie>
#include <QPainter>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <mutex>

namespace widgets {

namespace {

std::mutex decoderMutex;
TImagePreview::TDecoder testDecoder;

// Its own two threads: a decode that runs long never holds up the program's other work, and a
// newer request does not queue behind more than one older one.
QThreadPool& DecodePool() {
    static QThreadPool pool;
    static const bool sized = (pool.setMaxThreadCount(2), true);
    (void)sized;
    return pool;
}

} // namespace

std::optional<QByteArray> ReadPictureFile(const platform::ProfileRoot& profile,
                                          const QString& hostPath) {
    if (hostPath.isEmpty())
        return std::nullopt;
    // Only a regular file that lies inside the profile once links are resolved, opened without
    // waiting (a FIFO in the cache cannot hold a decode thread) and only within the bound.
    const auto bytes = platform::ReadFileInsideProfile(
        profile, QFile::encodeName(hostPath).toStdString(), static_cast<std::size_t>(kMaxPictureBytes));
    if (!bytes)
        return std::nullopt;
    return QByteArray::fromStdString(*bytes);
}

bool IsJpegWithTooManyScans(const QByteArray& bytes) {
    if (!bytes.startsWith("\xFF\xD8"))
        return false;
    // Inside a scan's coded data a 0xFF byte is always followed by 0x00 or a restart marker, so
    // every "FF DA" in the file starts a scan (or sits in a header, which only overcounts).
    int scans = 0;
    for (qsizetype at = bytes.indexOf("\xFF\xDA"); at >= 0;
         at = bytes.indexOf("\xFF\xDA", at + 2)) {
        if (++scans > kMaxJpegScans)
            return true;
    }
    return false;
}

struct TImagePreview::TDecodeResult {
    QImage Still;
    QByteArray AnimatedBytes; // not empty: an animation, played from these bytes
};

// What the preview and its decode threads share: the preview, until it is destroyed, and the
// latest request, so that a queued decode that is already stale is not started.
struct TImagePreview::TShared {
    std::mutex Mutex;
    TImagePreview* Owner = nullptr;
    std::atomic<quint64> Latest = 0;
};

namespace {

QImage DecodeStill(QImageReader& reader, const QByteArray& bytes) {
    TImagePreview::TDecoder decoder;
    {
        std::lock_guard lock(decoderMutex);
        decoder = testDecoder;
    }
    return decoder ? decoder(bytes) : reader.read();
}

} // namespace

TImagePreview::TImagePreview(QWidget* parent)
    : QWidget(parent), FDeadline(new QTimer(this)), FShared(std::make_shared<TShared>()) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    QImageReader::setAllocationLimit(kMaxDecodedMegabytes);
    FShared->Owner = this;
    FDeadline->setSingleShot(true);
    FDeadline->setInterval(kDecodeDeadlineMs);
    connect(FDeadline, &QTimer::timeout, this, &TImagePreview::GiveUpDecode);
}

TImagePreview::~TImagePreview() {
    std::lock_guard lock(FShared->Mutex);
    FShared->Owner = nullptr;
}

void TImagePreview::SetDecoderForTesting(TDecoder decoder) {
    std::lock_guard lock(decoderMutex);
    testDecoder = std::move(decoder);
}

void TImagePreview::StopMovie() {
    if (FMovie) {
        FMovie->stop();
        FMovie.reset();
    }
    FMovieBytes.reset();
}

void TImagePreview::ShowFrame(const QImage& frame) {
    FFrame = frame;
    update();
}

void TImagePreview::Navigate(const QString& hostPath) {
    StopMovie();
    FLocation = hostPath;
    FFrame = QImage();
    update();
    const quint64 generation = ++FGeneration;
    FShared->Latest = generation;
    FDecoding = !hostPath.isEmpty();
    if (!FDecoding) {
        FDeadline->stop();
        emit DecodeFinished();
        return;
    }
    FDeadline->start();
    DecodePool().start([shared = FShared, generation, hostPath, profile = platform::CurrentProfile()] {
        if (shared->Latest != generation)
            return; // asked for something else before this decode could start
        TDecodeResult result;
        const std::optional<QByteArray> bytes = ReadPictureFile(profile, hostPath);
        if (bytes && !IsJpegWithTooManyScans(*bytes)) {
            QBuffer buffer;
            buffer.setData(*bytes);
            buffer.open(QIODevice::ReadOnly);
            QImageReader reader(&buffer);
            reader.setDecideFormatFromContent(true);
            if (reader.supportsAnimation() && reader.imageCount() != 1)
                result.AnimatedBytes = *bytes;
            else
                result.Still = DecodeStill(reader, *bytes);
        }
        std::lock_guard lock(shared->Mutex);
        if (TImagePreview* owner = shared->Owner)
            QMetaObject::invokeMethod(
                owner, [owner, generation, result] { owner->OnDecoded(generation, result); },
                Qt::QueuedConnection);
    });
}

void TImagePreview::OnDecoded(quint64 generation, const TDecodeResult& result) {
    if (generation != FGeneration || !FDecoding)
        return; // a newer request, or one given up on
    FDecoding = false;
    FDeadline->stop();
    if (!result.AnimatedBytes.isEmpty()) {
        auto bytes = std::make_unique<QBuffer>();
        bytes->setData(result.AnimatedBytes);
        bytes->open(QIODevice::ReadOnly);
        auto movie = std::make_unique<QMovie>(bytes.get());
        if (movie->isValid()) {
            FMovieBytes = std::move(bytes);
            FMovie = std::move(movie);
            connect(FMovie.get(), &QMovie::frameChanged, this,
                    [this](int) { ShowFrame(FMovie->currentImage()); });
            FMovie->start();
        }
    } else {
        ShowFrame(result.Still); // a null image when it could not be decoded
    }
    emit DecodeFinished();
}

void TImagePreview::GiveUpDecode() {
    if (!FDecoding)
        return;
    FDecoding = false;
    FShared->Latest = ++FGeneration; // its result, should it come, is dropped
    emit DecodeFinished();
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
