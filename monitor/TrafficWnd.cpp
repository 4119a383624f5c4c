#include "TrafficWnd.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/ui/MessageBox.h"

namespace {
const char kAllConnections[] = "All connections";
constexpr int kRefreshMillis = 200;
}  // namespace

void CTrafficModel::Append(const std::vector<CTrafficExchange>& exchanges,
                           const std::vector<std::string>& names) {
    if (exchanges.empty()) {
        return;
    }
    std::vector<CLine> added;
    added.reserve(2 * exchanges.size());
    for (size_t i = 0; i < exchanges.size(); ++i) {
        const QString qName = QString::fromStdString(names[i]);
        for (const Traffic::CTrafficLine& part : Traffic::DescribeLines(exchanges[i])) {
            CLine line;
            line.columns[TIME] = QString::fromStdString(part.strTime);
            line.columns[CONNECTION] = qName;
            line.columns[DIRECTION] = QChar(part.chDirection);
            line.columns[DECODED] = QString::fromStdString(part.strDecoded);
            line.columns[BYTES] = QString::fromStdString(part.strBytes);
            line.columns[STATUS] = QString::fromStdString(part.strStatus);
            line.columns[ROUND_TRIP] = QString::fromStdString(part.strMillis);
            line.strText = QString::fromStdString(part.Text(names[i]));
            added.push_back(std::move(line));
        }
    }
    // Old lines make room first, so the model never holds more than its bound.
    const size_t nKeep = added.size() >= m_nMaxLines ? 0 : m_nMaxLines - added.size();
    if (m_lines.size() > nKeep) {
        const int nRemove = int(m_lines.size() - nKeep);
        beginRemoveRows(QModelIndex(), 0, nRemove - 1);
        m_lines.erase(m_lines.begin(), m_lines.begin() + nRemove);
        endRemoveRows();
    }
    if (added.size() > m_nMaxLines) {
        added.erase(added.begin(), added.end() - std::ptrdiff_t(m_nMaxLines));
    }
    const int nFirst = int(m_lines.size());
    beginInsertRows(QModelIndex(), nFirst, nFirst + int(added.size()) - 1);
    for (CLine& line : added) {
        m_lines.push_back(std::move(line));
    }
    endInsertRows();
}

void CTrafficModel::Clear() {
    beginResetModel();
    m_lines.clear();
    endResetModel();
}

QFont CTrafficModel::BytesFont() {
    QFont font("Monospace");
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

int CTrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_lines.size());
}

int CTrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : COLUMN_COUNT;
}

QVariant CTrafficModel::data(const QModelIndex& index, int nRole) const {
    if (!index.isValid() || size_t(index.row()) >= m_lines.size()) {
        return QVariant();
    }
    if (nRole == Qt::DisplayRole) {
        return m_lines[size_t(index.row())].columns[index.column()];
    }
    if (nRole == Qt::ToolTipRole) {
        // What the frame means, then all its bytes, a short line each: a
        // frame of 260 bytes fits on the screen.
        const CLine& line = m_lines[size_t(index.row())];
        QString strTip = line.columns[DECODED];
        const QString& strBytes = line.columns[BYTES];
        constexpr int nLineChars = 3 * TIP_BYTES_PER_LINE;  // "XX " each
        for (int nAt = 0; nAt < strBytes.size(); nAt += nLineChars) {
            strTip += (strTip.isEmpty() ? "" : "\n") + strBytes.mid(nAt, nLineChars - 1);
        }
        return strTip;
    }
    if (nRole == Qt::FontRole && index.column() == BYTES) {
        return BytesFont();
    }
    return QVariant();
}

QVariant CTrafficModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const {
    static const char* const kHeaders[COLUMN_COUNT] = {"Time",   "Connection", "Dir",  "Decoded",
                                                       "Status", "Round trip", "Bytes"};
    if (orientation == Qt::Horizontal && nRole == Qt::DisplayRole && nSection >= 0 &&
        nSection < COLUMN_COUNT) {
        return QString(kHeaders[nSection]);
    }
    if (orientation == Qt::Horizontal && nRole == Qt::TextAlignmentRole && nSection == BYTES) {
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return QVariant();
}

CTrafficWnd::CTrafficWnd(CTrafficRing& ring,
                         std::function<std::string(const CTrafficExchange&)> nameOf,
                         QWidget* pParent)
    : QWidget(pParent, Qt::Window), m_ring(ring), m_nameOf(std::move(nameOf)) {
    setWindowTitle("Traffic");
    setAttribute(Qt::WA_DeleteOnClose, false);
    m_pModel = new CTrafficModel(2 * ring.Capacity(), this);
    m_pFilter = new QSortFilterProxyModel(this);
    m_pFilter->setSourceModel(m_pModel);
    m_pFilter->setFilterKeyColumn(CTrafficModel::CONNECTION);

    m_comboConnection = new QComboBox;
    m_comboConnection->addItem(kAllConnections);
    m_comboConnection->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_checkPause = new QCheckBox("&Pause");
    auto* pClear = new QPushButton("C&lear");
    auto* pCopy = new QPushButton("&Copy");
    auto* pSave = new QPushButton("&Save As...");
    m_labelCount = new QLabel;
    m_table = new QTableView;
    m_table->setModel(m_pFilter);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    // The columns before the bytes are as wide as their usual text, set once
    // (measuring 40,000 rows would be slow); the bytes take the width left.
    QHeaderView* pHeader = m_table->horizontalHeader();
    const QFontMetrics metrics(font());
    const auto width = [&](const char* psz) { return metrics.horizontalAdvance(psz) + 16; };
    pHeader->resizeSection(CTrafficModel::TIME, width("00:00:00.000"));
    pHeader->resizeSection(CTrafficModel::CONNECTION, width("192.168.100.100:50200"));
    pHeader->resizeSection(CTrafficModel::DIRECTION, width("Dir"));
    pHeader->resizeSection(CTrafficModel::DECODED,
                           width("unit 1: read holding registers, address 1000, quantity 10"));
    pHeader->resizeSection(CTrafficModel::STATUS, width("Modbus device return an exception"));
    pHeader->resizeSection(CTrafficModel::ROUND_TRIP, width("10000.000 ms"));
    pHeader->setStretchLastSection(true);
    pHeader->setMinimumSectionSize(width("Dir"));
    m_table->setWordWrap(false);

    auto* pTop = new QHBoxLayout;
    pTop->addWidget(new QLabel("Connection:"));
    pTop->addWidget(m_comboConnection);
    pTop->addWidget(m_checkPause);
    pTop->addStretch();
    pTop->addWidget(pClear);
    pTop->addWidget(pCopy);
    pTop->addWidget(pSave);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pTop);
    pLayout->addWidget(m_table);
    pLayout->addWidget(m_labelCount);
    resize(1280, 420);

    m_chooseFile = [this] {
        return QFileDialog::getSaveFileName(this, "Save Traffic", QString(),
                                            "Text files (*.txt);;All files (*)");
    };
    connect(m_comboConnection, &QComboBox::currentIndexChanged, this,
            [this] { OnFilterChanged(); });
    connect(m_checkPause, &QCheckBox::toggled, this, [this](bool bPaused) {
        if (!bPaused) {
            Refresh();
        }
    });
    connect(pClear, &QPushButton::clicked, this, [this] { OnClear(); });
    connect(pCopy, &QPushButton::clicked, this, [this] { OnCopy(); });
    connect(pSave, &QPushButton::clicked, this, [this] { OnSaveAs(); });
    m_pTimer = new QTimer(this);
    connect(m_pTimer, &QTimer::timeout, this, [this] {
        if (!m_checkPause->isChecked()) {
            Refresh();
        }
    });
    UpdateCount();
}

CTrafficWnd::~CTrafficWnd() {
    if (Traffic::Current() == &m_ring) {
        Traffic::SetObserver(nullptr);
    }
}

void CTrafficWnd::Refresh() {
    std::vector<CTrafficExchange> exchanges = m_ring.Since(m_nLastSequence);
    if (exchanges.empty()) {
        return;
    }
    m_nLastSequence = exchanges.back().nSequence;
    // Each exchange's name once; a name not seen before joins the filter.
    std::vector<std::string> names;
    names.reserve(exchanges.size());
    for (const CTrafficExchange& e : exchanges) {
        names.push_back(m_nameOf(e));
        if (m_names.insert(names.back()).second) {
            m_comboConnection->addItem(QString::fromStdString(names.back()));
        }
    }
    const bool bAtEnd =
        m_table->verticalScrollBar() == nullptr ||
        m_table->verticalScrollBar()->value() == m_table->verticalScrollBar()->maximum();
    m_pModel->Append(exchanges, names);
    if (bAtEnd) {
        m_table->scrollToBottom();
    }
    UpdateCount();
}

void CTrafficWnd::OnClear() {
    m_ring.Clear();
    m_pModel->Clear();
    UpdateCount();
}

QStringList CTrafficWnd::ShownLines(bool bSelectedOnly) const {
    QStringList lines;
    for (int nRow = 0; nRow < m_pFilter->rowCount(); ++nRow) {
        const QModelIndex index = m_pFilter->index(nRow, 0);
        if (!bSelectedOnly || m_table->selectionModel()->isRowSelected(nRow, QModelIndex())) {
            lines << m_pModel->Line(m_pFilter->mapToSource(index).row()).strText;
        }
    }
    return lines;
}

void CTrafficWnd::OnCopy() {
    const QStringList lines = ShownLines(true);
    if (!lines.isEmpty()) {
        QApplication::clipboard()->setText(lines.join('\n') + '\n');
    }
}

bool CTrafficWnd::OnSaveAs() {
    const QString strPath = m_chooseFile ? m_chooseFile() : QString();
    if (strPath.isEmpty()) {
        return false;
    }
    // Written whole or not at all: an old file of that name stays intact on failure.
    QSaveFile file(strPath);
    const QByteArray text = (ShownLines(false).join('\n') + '\n').toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        AfxMessageBox("Traffic not saved to " + strPath.toStdString() + ": " +
                          file.errorString().toStdString(),
                      MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    return true;
}

void CTrafficWnd::OnFilterChanged() {
    const int nIndex = m_comboConnection->currentIndex();
    m_pFilter->setFilterRegularExpression(
        nIndex <= 0 ? QRegularExpression()
                    : QRegularExpression(QRegularExpression::anchoredPattern(
                          QRegularExpression::escape(m_comboConnection->currentText()))));
    UpdateCount();
}

void CTrafficWnd::UpdateCount() {
    const std::uint64_t nDropped = m_ring.Dropped();
    QString strText = QString("%1 lines shown").arg(m_pFilter->rowCount());
    if (nDropped > 0) {
        strText += QString("; %1 older exchanges no longer kept").arg(nDropped);
    }
    m_labelCount->setText(strText);
}

void CTrafficWnd::showEvent(QShowEvent* pEvent) {
    Traffic::SetObserver(&m_ring);
    m_pTimer->start(kRefreshMillis);
    QWidget::showEvent(pEvent);
}

void CTrafficWnd::closeEvent(QCloseEvent* pEvent) {
    Traffic::SetObserver(nullptr);
    m_pTimer->stop();
    Refresh();
    QWidget::closeEvent(pEvent);
}
