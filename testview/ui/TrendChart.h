// A test window's trend chart, in a window of its own: the plotted rows'
// values over time drawn from the window's bucketed history, with a legend
// of the rows (ticked ones plotted, each with its last value, axis and
// range). New values redraw it at most about 30 times a second; drawing
// costs the same however fast the device is polled.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>

#include "testview/TrendHistory.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class CTrendChart;

// How one row is plotted.
struct CTraceStyle {
    bool bRightAxis = false;
    bool bFixed = false;  // the range below, else the values shown decide
    double dLow = 0;
    double dHigh = 100;
};

// The drawing itself: axes, grid, traces, and the cursor under the mouse.
// The wheel zooms the time axis about the mouse, dragging pans it (both
// pause the chart), a double-click returns to the newest values.
class CTrendPlot : public QWidget {
    Q_OBJECT

public:
    explicit CTrendPlot(CTrendChart& chart);
    int Paints() const { return m_nPaints; }
    // What a redraw takes, averaged over the last ones.
    double PaintMillis() const { return m_dPaintMillis; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void wheelEvent(QWheelEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;

private:
    void Paint();
    QRect PlotRect() const;
    std::int64_t TimeAt(int x) const;

    CTrendChart& m_chart;
    int m_nPaints = 0;
    double m_dPaintMillis = 0;
    int m_nCursorX = -1;
    bool m_bDragging = false;
    int m_nDragX = 0;
    std::int64_t m_nDragRight = 0;
};

class CTrendChart : public QWidget {
    Q_OBJECT

public:
    static constexpr int REDRAW_MILLIS = 34;  // at most about 30 redraws a second
    // Every chart shown draws less often when drawing them all would take
    // more than this share of the window thread's time.
    static constexpr double DRAW_SHARE = 0.1;
    // The legend's last values change at most this often.
    static constexpr int LEGEND_MILLIS = 250;
    static constexpr std::int64_t MIN_SPAN = 10 * 1000;
    static constexpr std::int64_t MAX_SPAN = 24 * 3600 * 1000;

    // A window of its own over pParent, drawing from history (which
    // outlives it).
    CTrendChart(CTrendHistory& history, QWidget* pParent);
    ~CTrendChart() override;

    // New samples are in the history: shown at the next redraw.
    void DataChanged();

    // Paused, the chart holds the times it shows while polling goes on.
    bool IsPaused() const { return m_bPaused; }
    void SetPaused(bool bPaused);
    // The time shown across the chart, 10 s to 24 h; the right edge stays
    // where it is when paused.
    std::int64_t Span() const { return m_nSpan; }
    void SetSpan(std::int64_t nMillis);
    // The time at the right edge: the newest value's unless paused.
    std::int64_t RightMillis() const;
    // Shows the times ending at nMillis, paused.
    void ScrollTo(std::int64_t nMillis);
    // The bucket level drawn for the times shown, at the plot's width.
    int LevelShown() const;

    CTraceStyle& Style(int nRow) { return m_styles[nRow]; }
    const CTrendHistory& History() const { return m_history; }
    static QColor TraceColor(int nRow);
    // "[40]" for the row's first register or bit.
    QString RowLabel(int nRow) const;

    // The plot and legend as shown, as a PNG; false with strError set.
    bool ExportPng(const QString& strPath, QString& strError) const;
    // The value log's lines for the buckets shown; false with strError set.
    bool ExportCsv(const QString& strPath, QString& strError) const;

    // Asks the user for a file to save to; empty when cancelled.
    std::function<QString(const QString& strTitle, const QString& strFilter)> m_chooseFile;

    QComboBox* m_comboSpan = nullptr;
    QPushButton* m_btnPause = nullptr;
    QPushButton* m_btnExportPng = nullptr;
    QPushButton* m_btnExportCsv = nullptr;
    QTreeWidget* m_treeLegend = nullptr;
    CTrendPlot* m_pPlot = nullptr;
    QWidget* m_pBody = nullptr;  // plot and legend: what a PNG shows

protected:
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;

private:
    void OnTick();
    void OnLegendChanged(QTreeWidgetItem* pItem, int nColumn);
    void OnLegendMenu(const QPoint& pos);
    void RefreshLegend();
    void OnExport(bool bPng);

    CTrendHistory& m_history;
    std::map<int, CTraceStyle> m_styles;
    QTimer* m_pTimer = nullptr;
    bool m_bDirty = true;
    bool m_bLegendDirty = true;
    QElapsedTimer m_sinceDraw;
    QElapsedTimer m_sinceLegend;
    bool m_bCounted = false;  // among the charts shown
    static int s_nShown;
    bool m_bPaused = false;
    std::int64_t m_nSpan = 60 * 1000;
    std::int64_t m_nRight = 0;  // when paused
    // What the legend's rows were made for.
    CTrendKey m_legendKey;
    int m_nLegendRows = -1;
    bool m_bFillingLegend = false;
};
