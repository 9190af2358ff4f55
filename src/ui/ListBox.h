#pragma once
// A list box of 8-bit texts: one selected item at most, items in the order they were added,
// shown in UTF-16 only when drawn. Filling replaces the whole content in one model reset, so a
// box of tens of thousands of items is not repainted per item. An item shows at most
// kMaxShownBytes of its text (a longer one ends in an ellipsis and has its start in its tooltip),
// with control characters escaped; Ctrl+C copies the selected item's whole text.

#include <QAbstractListModel>
#include <QListView>

#include <string>
#include <vector>

// What an item shows: enough for any name or address a person reads, and little enough that a
// box of megabyte-long items still repaints at once.
constexpr std::size_t kMaxShownBytes = 512;

// The shown text of an item: at most kMaxShownBytes of it, control characters escaped as the
// tools escape them, an ellipsis where it was cut.
QString ShownItemText(const std::string& line);

class TListBoxItems : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const std::vector<std::string>& Lines() const { return FLines; }
    void Assign(std::vector<std::string> lines);

private:
    std::vector<std::string> FLines;
};

class TListBox : public QListView {
    Q_OBJECT
public:
    explicit TListBox(QWidget* parent = nullptr);

    int Count() const;
    // The 8-bit text of item `index`.
    const std::string& Item(int index) const;
    const std::vector<std::string>& Items() const { return FItems.Lines(); }
    // What the box shows for item `index`.
    QString DisplayText(int index) const;

    void Clear();
    void Assign(std::vector<std::string> lines);

    // The selected item, -1 when there is none.
    int ItemIndex() const;
    // Selects item `index` (-1: none) without raising SelectionChangedByUser.
    void SetItemIndex(int index);

signals:
    // The user changed the selection with the mouse or the keyboard.
    void SelectionChangedByUser();
    void DoubleClicked();

protected:
    // A right-click shows a menu for the selected item; it must not select another one.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // The user can move the selection but never clear it.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;

private:
    void OnSelectionChanged();

    TListBoxItems FItems;
    bool FChangingFromCode = false;
};
