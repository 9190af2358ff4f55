#pragma once
// A line at the foot of the main window that tells which profile is on screen: its folder,
// shortened in the middle when the window is narrow, in full in the tooltip.

#include <QLabel>

class TProfileLine : public QLabel {
    Q_OBJECT
public:
    // Shows the profile that the cache calls read.
    explicit TProfileLine(QWidget* parent = nullptr);

    QString FullText() const { return FFullText; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Elide();

    QString FFullText;
};
