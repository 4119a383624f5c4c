// The traffic monitor: every exchange of every connection as it went over
// the wire, two lines each (request and answer), filtered by connection,
// paused, cleared, copied and saved as text. Capture runs while the window
// is shown and stops when it closes.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>
#include <deque>
#include <functional>
#include <set>

#include "core/Traffic.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSortFilterProxyModel;
class QTableView;
class QTimer;

// The lines shown, at most a fixed number; the oldest go first.
class CTrafficModel : public QAbstractTableModel {
public:
    // What the frame means comes first; the bytes last, in the width left
    // (cut short there, whole in the tool tip), so no frame needs a scroll.
    enum EColumn { TIME, CONNECTION, DIRECTION, DECODED, STATUS, ROUND_TRIP, BYTES, COLUMN_COUNT };
    // Bytes per line of the hex in a line's tool tip.
    static constexpr int TIP_BYTES_PER_LINE = 16;
    struct CLine {
        QString columns[COLUMN_COUNT];
        QString strText;  // the whole line, as copied and saved
    };

    explicit CTrafficModel(size_t nMaxLines, QObject* pParent = nullptr)
        : QAbstractTableModel(pParent), m_nMaxLines(nMaxLines) {}

    // names[i]: the connection exchanges[i] is shown under.
    void Append(const std::vector<CTrafficExchange>& exchanges,
                const std::vector<std::string>& names);
    void Clear();
    const CLine& Line(int nRow) const { return m_lines[size_t(nRow)]; }
    static QFont BytesFont();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int nRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override;

private:
    const size_t m_nMaxLines;
    std::deque<CLine> m_lines;
};

class CTrafficWnd : public QWidget {
    Q_OBJECT

public:
    // ring: where the transports' exchanges are kept while the window shows;
    // nameOf: the connection name an exchange is shown under.
    CTrafficWnd(CTrafficRing& ring, std::function<std::string(const CTrafficExchange&)> nameOf,
                QWidget* pParent = nullptr);
    ~CTrafficWnd() override;

    // Takes what the ring holds now (the window's timer does this too).
    void Refresh();

    // Where "Save As..." writes; a test may replace the dialog.
    std::function<QString()> m_chooseFile;

    QComboBox* m_comboConnection = nullptr;
    QCheckBox* m_checkPause = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_labelCount = nullptr;

    void OnClear();
    void OnCopy();
    // Saves the lines shown (all, or those of the chosen connection);
    // false with a message when the file could not be written.
    bool OnSaveAs();
    // The text of the lines shown, or of the selected ones.
    QStringList ShownLines(bool bSelectedOnly) const;

protected:
    void showEvent(QShowEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void OnFilterChanged();
    void UpdateCount();

    CTrafficRing& m_ring;
    std::function<std::string(const CTrafficExchange&)> m_nameOf;
    CTrafficModel* m_pModel = nullptr;
    QSortFilterProxyModel* m_pFilter = nullptr;
    QTimer* m_pTimer = nullptr;
    std::uint64_t m_nLastSequence = 0;
    std::set<std::string> m_names;  // those the filter offers
};
