#pragma once
// The image view under the Images list. It decodes cached image files only, read through the
// profile boundary (a file outside the profile shows nothing): it opens no
// network connection, runs no script and has no active content. A picture is fitted to the view
// with its aspect kept; an animated picture plays; a file it cannot decode shows a neutral,
// empty view.
//
// A picture is decoded off the user-interface thread, so a file built to decode slowly never
// freezes the window: a newer request makes the older one's result be dropped, a decode that has
// not finished by kDecodeDeadlineMs gives the empty view, and files past kMaxPictureBytes, images
// past kMaxDecodedMegabytes and JPEGs of more than kMaxJpegScans scans are not decoded at all.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QWidget>

#include "platform/PathMapper.h"

#include <functional>
#include <memory>
#include <optional>

class QBuffer;
class QMovie;
class QTimer;

namespace widgets {

// Real pictures come nowhere near these.
constexpr qint64 kMaxPictureBytes = 64 << 20;
constexpr int kMaxDecodedMegabytes = 128;
constexpr int kMaxJpegScans = 200;
constexpr int kDecodeDeadlineMs = 5000;

// The bytes of the picture file `hostPath`, at most kMaxPictureBytes of them; nullopt for what
// cannot be read, is larger, or does not lie inside `profile`. Runs on a worker thread.
std::optional<QByteArray> ReadPictureFile(const platform::ProfileRoot& profile,
                                          const QString& hostPath);

// Whether `bytes` hold a JPEG with more scans than kMaxJpegScans: each scan of a progressive
// JPEG costs a pass over the whole picture, so thousands of them take minutes to decode.
bool IsJpegWithTooManyScans(const QByteArray& bytes);

class TImagePreview : public QWidget {
    Q_OBJECT
public:
    explicit TImagePreview(QWidget* parent = nullptr);
    ~TImagePreview() override;

    // Shows the picture in the local file `hostPath` once it is decoded; the view is empty
    // until then. An empty path empties the view.
    void Navigate(const QString& hostPath);

    // The file last asked for, and whether it could be decoded.
    const QString& Location() const { return FLocation; }
    bool HasPicture() const { return !FFrame.isNull(); }
    QSize PictureSize() const { return FFrame.size(); }
    bool IsAnimated() const { return FMovie != nullptr; }
    // Whether the decode of the file last asked for is still running.
    bool IsDecoding() const { return FDecoding; }

    // Replaces the still-picture decoder (for tests that need a slow one); null restores it.
    using TDecoder = std::function<QImage(const QByteArray& bytes)>;
    static void SetDecoderForTesting(TDecoder decoder);

signals:
    // The decode of the file last asked for ended: a picture is shown, or the empty view.
    void DecodeFinished();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct TDecodeResult;
    struct TShared;
    void StopMovie();
    void ShowFrame(const QImage& frame);
    void OnDecoded(quint64 generation, const TDecodeResult& result);
    void GiveUpDecode();

    QString FLocation;
    QImage FFrame;
    std::unique_ptr<QBuffer> FMovieBytes;
    std::unique_ptr<QMovie> FMovie;
    quint64 FGeneration = 0;
    bool FDecoding = false;
    QTimer* FDeadline;
    std::shared_ptr<TShared> FShared;
};

} // namespace widgets
