#include "ui/ListBox.h"

#include "platform/CodePage.h"
#include "platform/TextEscape.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {

constexpr QChar kEllipsis = QChar(0x2026);
constexpr std::size_t kTooltipBytes = 1000;
constexpr qsizetype kTooltipLineLength = 100;

QString FromAnsi(std::string_view text) {
    return QString::fromStdU16String(platform::AnsiToUtf16(text));
}

// The start of a long item, in lines short enough for a tooltip.
QString TooltipOf(const std::string& line) {
    const QString start = FromAnsi(
        platform::EscapeControlCharacters(std::string_view(line).substr(0, kTooltipBytes)));
    QString wrapped;
    for (qsizetype at = 0; at < start.size(); at += kTooltipLineLength)
        wrapped += start.mid(at, kTooltipLineLength) + QLatin1Char('\n');
    return wrapped + kEllipsis +
           QStringLiteral(" (%1 bytes; Ctrl+C copies the whole text)").arg(line.size());
}

} // namespace

QString ShownItemText(const std::string& line) {
    const bool cut = line.size() > kMaxShownBytes;
    std::string_view shown(line);
    if (cut)
        shown = shown.substr(0, kMaxShownBytes);
    QString text = platform::NeedsEscaping(shown)
                       ? FromAnsi(platform::EscapeControlCharacters(shown))
                       : FromAnsi(shown);
    if (cut)
        text += kEllipsis;
    return text;
}

int TListBoxItems::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FLines.size());
}

QVariant TListBoxItems::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const std::string& line = FLines[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole)
        return ShownItemText(line);
    if (role == Qt::ToolTipRole && line.size() > kMaxShownBytes)
        return TooltipOf(line);
    return {};
}

void TListBoxItems::Assign(std::vector<std::string> lines) {
    beginResetModel();
    FLines = std::move(lines);
    endResetModel();
}

TListBox::TListBox(QWidget* parent) : QListView(parent), FItems(this) {
    setModel(&FItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setLayoutMode(QListView::SinglePass);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TListBox::OnSelectionChanged);
}

int TListBox::Count() const {
    return FItems.rowCount();
}

const std::string& TListBox::Item(int index) const {
    return FItems.Lines().at(static_cast<std::size_t>(index));
}

QString TListBox::DisplayText(int index) const {
    return FItems.data(FItems.index(index), Qt::DisplayRole).toString();
}

void TListBox::Clear() {
    Assign({});
}

void TListBox::Assign(std::vector<std::string> lines) {
    FChangingFromCode = true;
    FItems.Assign(std::move(lines));
    FChangingFromCode = false;
}

int TListBox::ItemIndex() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.front().row();
}

void TListBox::SetItemIndex(int index) {
    FChangingFromCode = true;
    if (index >= 0 && index < Count()) {
        const QModelIndex item = FItems.index(index);
        selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
        scrollTo(item);
    } else {
        selectionModel()->clear();
    }
    FChangingFromCode = false;
}

void TListBox::OnSelectionChanged() {
    if (!FChangingFromCode)
        emit SelectionChangedByUser();
}

void TListBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    QListView::mousePressEvent(event);
}

void TListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit DoubleClicked();
}

void TListBox::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        // The whole stored text, line breaks and all, as the item shows it only in part.
        if (const int index = ItemIndex(); index >= 0)
            QApplication::clipboard()->setText(FromAnsi(Item(index)));
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

QItemSelectionModel::SelectionFlags TListBox::selectionCommand(const QModelIndex& index,
                                                               const QEvent* event) const {
    const QItemSelectionModel::SelectionFlags command = QListView::selectionCommand(index, event);
    // Ctrl+click and Ctrl+Space would deselect the item, a press or drag off the items would
    // clear the selection; only the program empties it, along with the list.
    if (!event || !command.testAnyFlags(QItemSelectionModel::Clear | QItemSelectionModel::Deselect |
                                        QItemSelectionModel::Toggle))
        return command;
    if (!index.isValid())
        return QItemSelectionModel::NoUpdate;
    return (command & ~(QItemSelectionModel::Deselect | QItemSelectionModel::Toggle)) |
           QItemSelectionModel::ClearAndSelect;
}
