#pragma once
// The program's one window: a link panel to the maker's web site above the sites frame. Its
// creation reads the URL cache behind a splash window.

#include <QLabel>
#include <QWidget>

class TframeCachedSites;

// A panel with a centred caption that reports a click anywhere on it.
class TLinkPanel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkPanel(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool FPressed = false;
};

class TfrmZezuvurMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrmZezuvurMain(QWidget* parent = nullptr);
    ~TfrmZezuvurMain() override;

    TframeCachedSites* frameSites;
    TLinkPanel* Panel1;
    // Under the link panel, shown only when the cache was not read whole: the user stopped the
    // reading, or containers were skipped for their size or number.
    QLabel* lblNotice;

    void FormCreate(QObject* Sender);
    void FormDestroy(QObject* Sender);
    void Panel1Click(QObject* Sender);

private:
    void BuildComponents();
    void ShowLoadNotice();
};

// The address the link panel opens.
extern const char* const kHomePageAddress;
