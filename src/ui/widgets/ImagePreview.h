#pragma once
// The image view under the Images list. It decodes cached image files only, read through the
// profile boundary (a file outside the profile shows nothing): it opens no
// network connection, runs no script and has no active content. A picture is fitted to the view
// with its aspect kept; an animated picture plays; a file it cannot decode shows a neutral,
// empty view.

#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>

class QBuffer;
class QMovie;

namespace widgets {

class TImagePreview : public QWidget {
    Q_OBJECT
public:
    explicit TImagePreview(QWidget* parent = nullptr);
    ~TImagePreview() override;

    // Shows the picture in the local file `hostPath`.
    void Navigate(const QString& hostPath);

    // The file last asked for, and whether it could be decoded.
    const QString& Location() const { return FLocation; }
    bool HasPicture() const { return !FFrame.isNull(); }
    bool IsAnimated() const { return FMovie != nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void StopMovie();
    void ShowFrame(const QImage& frame);

    QString FLocation;
    QImage FFrame;
    std::unique_ptr<QBuffer> FMovieSource; // the bytes the movie plays; outlives it
    std::unique_ptr<QMovie> FMovie;
};

} // namespace widgets
