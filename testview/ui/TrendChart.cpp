#include "TrendChart.h"

#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>

#include "platform/ui/MessageBox.h"

namespace {
// Up to this many points in all, lines are drawn smooth.
constexpr size_t SMOOTH_POINTS = 1000;

struct CSpanChoice {
    const char* pszText;
    std::int64_t nMillis;
};
constexpr CSpanChoice SPANS[] = {
    {"10 s", 10 * 1000},      {"30 s", 30 * 1000},        {"1 min", 60 * 1000},
    {"5 min", 300 * 1000},    {"15 min", 900 * 1000},     {"1 h", 3600 * 1000},
    {"6 h", 6 * 3600 * 1000}, {"24 h", 24 * 3600 * 1000},
};
constexpr int DEFAULT_SPAN = 2;  // 1 min

enum { COLUMN_ROW, COLUMN_AXIS, COLUMN_RANGE };

// A value range of an axis, empty until a value is taken in.
struct CRange {
    double dLow = INFINITY;
    double dHigh = -INFINITY;
    bool bUsed = false;  // a trace is drawn against it
    void Take(double d) {
        dLow = std::min(dLow, d);
        dHigh = std::max(dHigh, d);
    }
    bool Empty() const { return dLow > dHigh; }
    // Room above and below; a flat line is given some.
    CRange Padded() const {
        if (Empty()) {
            return {0, 1, bUsed};
        }
        const double dPad =
            dHigh > dLow ? (dHigh - dLow) * 0.05 : std::max(1.0, std::fabs(dLow) * 0.05);
        return {dLow - dPad, dHigh + dPad, bUsed};
    }
};

// 1, 2 or 5 times a power of ten, about the given step.
double NiceStep(double dRough) {
    const double dPower = std::pow(10.0, std::floor(std::log10(dRough)));
    for (double d : {1.0, 2.0, 5.0}) {
        if (d * dPower >= dRough) {
            return d * dPower;
        }
    }
    return 10 * dPower;
}

QString SpanText(std::int64_t nMillis) {
    if (nMillis % 3600000 == 0) {
        return QString("%1 h").arg(nMillis / 3600000);
    }
    if (nMillis >= 120000) {
        return QString("%1 min").arg(double(nMillis) / 60000.0, 0, 'g', 3);
    }
    return QString("%1 s").arg(double(nMillis) / 1000.0, 0, 'g', 3);
}

QString TimeText(std::int64_t nMillis, bool bSeconds) {
    return QDateTime::fromMSecsSinceEpoch(nMillis).toString(bSeconds ? "HH:mm:ss" : "HH:mm");
}

// Where the plot lies and which times it spans.
struct CPlotFrame {
    QRect plot;
    std::int64_t nLeft;
    std::int64_t nRight;
    double dPerMilli;
    double X(std::int64_t t) const { return plot.left() + double(t - nLeft) * dPerMilli; }
};
}  // namespace

namespace {
// The range each axis shows: fixed by a trace's style, or what its traces
// hold, padded.
std::array<CRange, 2> ShownRanges(CTrendChart& chart,
                                  const std::vector<std::vector<CTrendRun>>& runs) {
    const CTrendHistory& history = chart.History();
    std::array<CRange, 2> ranges;
    for (size_t i = 0; i < runs.size(); ++i) {
        const CTraceStyle& style = chart.Style(history.TraceRow(i));
        CRange& range = ranges[style.bRightAxis ? 1 : 0];
        range.bUsed = true;
        if (style.bFixed) {
            range.Take(style.dLow);
            range.Take(style.dHigh);
            continue;
        }
        for (const CTrendRun& run : runs[i]) {
            for (const CTrendPoint& point : run) {
                range.Take(point.dMin);
                range.Take(point.dMax);
            }
        }
    }
    return {ranges[0].Padded(), ranges[1].Padded()};
}

// Values on each axis in use, grid lines for the left one (or the right
// when only it is used).
void PaintValueAxes(QPainter& p, const QRect& plot, const std::array<CRange, 2>& shown) {
    for (int nAxis = 0; nAxis < 2; ++nAxis) {
        const CRange& r = shown[size_t(nAxis)];
        if (!r.bUsed) {
            continue;
        }
        const double dStep = NiceStep((r.dHigh - r.dLow) / std::max(2, plot.height() / 40));
        const bool bGrid = nAxis == 0 || !shown[0].bUsed;
        // Counted, not summed: near 2^64 a step can be below a double's
        // resolution.
        const double dFirst = std::ceil(r.dLow / dStep) * dStep;
        for (int k = 0; k < 64 && dFirst + k * dStep <= r.dHigh; ++k) {
            const double d = dFirst + k * dStep;
            const double y = plot.bottom() - (d - r.dLow) / (r.dHigh - r.dLow) * plot.height();
            if (bGrid) {
                p.setPen(QColor(230, 230, 230));
                p.drawLine(QPointF(plot.left() + 1, y), QPointF(plot.right() - 1, y));
            }
            p.setPen(Qt::black);
            const QString strValue = QString::number(std::fabs(d) < dStep / 2 ? 0.0 : d, 'g', 6);
            const QRectF box = nAxis == 0 ? QRectF(0, y - 8, plot.left() - 4, 16)
                                          : QRectF(plot.right() + 4, y - 8, 60, 16);
            p.drawText(box, (nAxis == 0 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                       strValue);
        }
    }
}

// Times along the bottom, on whole steps of local time.
void PaintTimeAxis(QPainter& p, const CPlotFrame& frame) {
    static constexpr std::int64_t TIME_STEPS[] = {
        1000,   2000,   5000,    10000,   15000,   30000,    60000,    120000,   300000,
        600000, 900000, 1800000, 3600000, 7200000, 10800000, 21600000, 43200000,
    };
    std::int64_t nStep = TIME_STEPS[std::size(TIME_STEPS) - 1];
    for (std::int64_t n : TIME_STEPS) {
        if (double(n) * frame.dPerMilli >= p.fontMetrics().horizontalAdvance("00:00:00") + 24) {
            nStep = n;
            break;
        }
    }
    const QRect& plot = frame.plot;
    const std::int64_t nOffset =
        std::int64_t(QDateTime::fromMSecsSinceEpoch(frame.nRight).offsetFromUtc()) * 1000;
    for (std::int64_t t = ((frame.nLeft + nOffset) / nStep + 1) * nStep - nOffset;
         t <= frame.nRight; t += nStep) {
        const double x = frame.X(t);
        p.setPen(QColor(230, 230, 230));
        p.drawLine(QPointF(x, plot.top() + 1), QPointF(x, plot.bottom() - 1));
        p.setPen(Qt::black);
        p.drawText(QRectF(x - 40, plot.bottom() + 3, 80, 18), Qt::AlignHCenter | Qt::AlignTop,
                   TimeText(t, nStep < 60000));
    }
}

// The traces: each bucket's last values joined, its min to max upright.
// Smooth lines cost several times plain ones: only for a few points.
void PaintTraces(QPainter& p, CTrendChart& chart, const CPlotFrame& frame,
                 const std::vector<std::vector<CTrendRun>>& runs,
                 const std::array<CRange, 2>& shown) {
    size_t nPoints = 0;
    for (const auto& trace : runs) {
        for (const CTrendRun& run : trace) {
            nPoints += run.size();
        }
    }
    const bool bSmooth = nPoints <= SMOOTH_POINTS;
    const QRect& plot = frame.plot;
    p.setClipRect(plot.adjusted(1, 1, -1, -1));
    p.setRenderHint(QPainter::Antialiasing, bSmooth);
    for (size_t i = 0; i < runs.size(); ++i) {
        const int nRow = chart.History().TraceRow(i);
        const CRange& r = shown[chart.Style(nRow).bRightAxis ? 1 : 0];
        const double dScale = plot.height() / (r.dHigh - r.dLow);
        auto yOf = [&](double d) { return plot.bottom() - (d - r.dLow) * dScale; };
        p.setPen(QPen(CTrendChart::TraceColor(nRow), bSmooth ? 1.5 : 1.0));
        std::vector<QLineF> lines;
        for (const CTrendRun& run : runs[i]) {
            QPolygonF line;
            line.reserve(qsizetype(run.size()));
            for (const CTrendPoint& point : run) {
                const double x = frame.X(point.nMillis);
                line.append(QPointF(x, yOf(point.dLast)));
                if (point.dMax > point.dMin) {
                    lines.emplace_back(x, yOf(point.dMin), x, yOf(point.dMax));
                }
            }
            if (line.size() == 1) {
                p.drawEllipse(line.front(), 1.5, 1.5);
            } else {
                p.drawPolyline(line);
            }
        }
        p.drawLines(lines.data(), int(lines.size()));
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setClipping(false);
}

// The cursor at x: each trace's value at its time t.
void PaintCursor(QPainter& p, CTrendChart& chart, const QRect& plot, int nLevel, int nCursorX,
                 std::int64_t t) {
    const CTrendHistory& history = chart.History();
    const QFontMetrics metrics = p.fontMetrics();
    p.setPen(QPen(Qt::darkGray, 1, Qt::DashLine));
    p.drawLine(nCursorX, plot.top(), nCursorX, plot.bottom());
    QStringList lines{QDateTime::fromMSecsSinceEpoch(t).toString("HH:mm:ss.zzz")};
    for (size_t i = 0; i < history.TraceCount(); ++i) {
        const std::optional<double> v = history.ValueAt(i, nLevel, t);
        lines << chart.RowLabel(history.TraceRow(i)) + " " +
                     (v ? QString::number(*v, 'g', 10) : QString("-"));
    }
    const int nHeight = metrics.height() * int(lines.size()) + 8;
    int nWidth = 0;
    for (const QString& str : lines) {
        nWidth = std::max(nWidth, metrics.horizontalAdvance(str));
    }
    nWidth += 12;
    const int nBoxX = nCursorX + 8 + nWidth < plot.right() ? nCursorX + 8 : nCursorX - 8 - nWidth;
    const QRect box(nBoxX, plot.top() + 6, nWidth, nHeight);
    p.fillRect(box, QColor(255, 255, 240, 230));
    p.setPen(Qt::gray);
    p.drawRect(box);
    for (int i = 0; i < int(lines.size()); ++i) {
        p.setPen(i == 0 ? QColor(Qt::black)
                        : CTrendChart::TraceColor(history.TraceRow(size_t(i - 1))));
        p.drawText(box.left() + 6, box.top() + 4 + metrics.ascent() + i * metrics.height(),
                   lines[i]);
    }
}
}  // namespace

// --- the plot --------------------------------------------------------------

CTrendPlot::CTrendPlot(CTrendChart& chart) : QWidget(&chart), m_chart(chart) {
    setMouseTracking(true);
    setMinimumSize(240, 160);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip("Wheel: zoom in time; drag: scroll back; double-click: the newest values");
}

QRect CTrendPlot::PlotRect() const {
    bool bRight = false;
    const CTrendHistory& history = m_chart.History();
    for (size_t i = 0; i < history.TraceCount(); ++i) {
        bRight = bRight || m_chart.Style(history.TraceRow(i)).bRightAxis;
    }
    return rect().adjusted(64, 10, bRight ? -64 : -14, -24);
}

std::int64_t CTrendPlot::TimeAt(int x) const {
    const QRect plot = PlotRect();
    const std::int64_t nSpan = m_chart.Span();
    return m_chart.RightMillis() - nSpan +
           std::int64_t(double(x - plot.left()) / std::max(1, plot.width()) * double(nSpan));
}

void CTrendPlot::paintEvent(QPaintEvent*) {
    QElapsedTimer timer;
    timer.start();
    ++m_nPaints;
    Paint();
    const double dMillis = double(timer.nsecsElapsed()) / 1e6;
    m_dPaintMillis = m_nPaints == 1 ? dMillis : 0.8 * m_dPaintMillis + 0.2 * dMillis;
}

void CTrendPlot::Paint() {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const CTrendHistory& history = m_chart.History();
    const QRect plot = PlotRect();
    p.setPen(QColor(160, 160, 160));
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    if (history.Empty() || history.TraceCount() == 0) {
        p.setPen(Qt::darkGray);
        p.drawText(plot, Qt::AlignCenter, "No values yet: the chart starts with the next read");
        return;
    }
    CPlotFrame frame{plot, m_chart.RightMillis() - m_chart.Span(), m_chart.RightMillis(),
                     double(plot.width()) / double(m_chart.Span())};
    const int nLevel = m_chart.LevelShown();
    std::vector<std::vector<CTrendRun>> runs(history.TraceCount());
    for (size_t i = 0; i < history.TraceCount(); ++i) {
        runs[i] = history.Runs(i, nLevel, frame.nLeft, frame.nRight + 1);
    }
    const std::array<CRange, 2> shown = ShownRanges(m_chart, runs);
    PaintValueAxes(p, plot, shown);
    PaintTimeAxis(p, frame);
    PaintTraces(p, m_chart, frame, runs, shown);
    if (m_chart.IsPaused()) {
        p.setPen(Qt::darkGray);
        p.drawText(plot.adjusted(6, 2, -6, 0), Qt::AlignRight | Qt::AlignTop,
                   "Paused: " + TimeText(frame.nLeft, true) + " to " +
                       TimeText(frame.nRight, true) + " (" + SpanText(m_chart.Span()) + ")");
    }
    if (m_nCursorX >= plot.left() && m_nCursorX <= plot.right()) {
        PaintCursor(p, m_chart, plot, nLevel, m_nCursorX, TimeAt(m_nCursorX));
    }
}

void CTrendPlot::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        return;
    }
    m_bDragging = true;
    m_nDragX = int(pEvent->position().x());
    m_nDragRight = m_chart.RightMillis();
}

void CTrendPlot::mouseMoveEvent(QMouseEvent* pEvent) {
    m_nCursorX = int(pEvent->position().x());
    if (m_bDragging) {
        const double dPerPixel = double(m_chart.Span()) / std::max(1, PlotRect().width());
        const int dx = m_nCursorX - m_nDragX;
        if (dx != 0) {
            m_chart.ScrollTo(m_nDragRight - std::int64_t(dx * dPerPixel));
        }
    }
    update();
}

void CTrendPlot::mouseReleaseEvent(QMouseEvent*) {
    m_bDragging = false;
}

void CTrendPlot::mouseDoubleClickEvent(QMouseEvent*) {
    m_chart.SetPaused(false);
}

void CTrendPlot::wheelEvent(QWheelEvent* pEvent) {
    const int nDelta = pEvent->angleDelta().y();
    if (nDelta == 0) {
        return;
    }
    const QRect plot = PlotRect();
    const int x = std::clamp(int(pEvent->position().x()), plot.left(), plot.right());
    const std::int64_t t = TimeAt(x);
    const double dFraction = double(plot.right() - x) / std::max(1, plot.width());
    const std::int64_t nSpan =
        std::clamp(std::int64_t(double(m_chart.Span()) * (nDelta > 0 ? 0.8 : 1.25)),
                   CTrendChart::MIN_SPAN, CTrendChart::MAX_SPAN);
    m_chart.SetSpan(nSpan);
    m_chart.ScrollTo(t + std::int64_t(dFraction * double(nSpan)));
}

void CTrendPlot::leaveEvent(QEvent*) {
    m_nCursorX = -1;
    update();
}

// --- the window ------------------------------------------------------------

CTrendChart::CTrendChart(CTrendHistory& history, QWidget* pParent)
    : QWidget(pParent, Qt::Window), m_history(history) {
    m_chooseFile = [this](const QString& strTitle, const QString& strFilter) {
        return QFileDialog::getSaveFileName(this, strTitle, QString(), strFilter);
    };
    auto* pLayout = new QVBoxLayout(this);
    auto* pBar = new QHBoxLayout;
    pBar->addWidget(new QLabel("Span:", this));
    m_comboSpan = new QComboBox(this);
    for (const CSpanChoice& span : SPANS) {
        m_comboSpan->addItem(span.pszText);
    }
    m_comboSpan->setCurrentIndex(DEFAULT_SPAN);
    m_nSpan = SPANS[DEFAULT_SPAN].nMillis;
    pBar->addWidget(m_comboSpan);
    m_btnPause = new QPushButton("Pause", this);
    m_btnPause->setCheckable(true);
    pBar->addWidget(m_btnPause);
    pBar->addStretch();
    m_btnExportPng = new QPushButton("Export PNG...", this);
    m_btnExportCsv = new QPushButton("Export CSV...", this);
    pBar->addWidget(m_btnExportPng);
    pBar->addWidget(m_btnExportCsv);
    pLayout->addLayout(pBar);

    auto* pSplitter = new QSplitter(this);
    m_pBody = pSplitter;
    m_pPlot = new CTrendPlot(*this);
    pSplitter->addWidget(m_pPlot);
    m_treeLegend = new QTreeWidget(this);
    m_treeLegend->setHeaderLabels({"Row", "Axis", "Range"});
    m_treeLegend->setRootIsDecorated(false);
    m_treeLegend->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_treeLegend->setMinimumWidth(180);
    m_treeLegend->setContextMenuPolicy(Qt::CustomContextMenu);
    m_treeLegend->setToolTip(
        "Ticked rows are plotted (16 at most). Right-click a row for its axis and range.");
    pSplitter->addWidget(m_treeLegend);
    pSplitter->setStretchFactor(0, 3);
    pSplitter->setStretchFactor(1, 1);
    pLayout->addWidget(pSplitter, 1);

    connect(m_comboSpan, &QComboBox::activated, this,
            [this](int nIndex) { SetSpan(SPANS[nIndex].nMillis); });
    connect(m_btnPause, &QPushButton::toggled, this, [this](bool bOn) { SetPaused(bOn); });
    connect(m_btnExportPng, &QPushButton::clicked, this, [this] { OnExport(true); });
    connect(m_btnExportCsv, &QPushButton::clicked, this, [this] { OnExport(false); });
    connect(m_treeLegend, &QTreeWidget::itemChanged, this,
            [this](QTreeWidgetItem* pItem, int nColumn) { OnLegendChanged(pItem, nColumn); });
    connect(m_treeLegend, &QTreeWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { OnLegendMenu(pos); });
    // One timer for every redraw that new values ask for.
    m_pTimer = new QTimer(this);
    m_pTimer->setInterval(REDRAW_MILLIS);
    connect(m_pTimer, &QTimer::timeout, this, [this] { OnTick(); });
    resize(760, 420);
}

int CTrendChart::s_nShown = 0;

CTrendChart::~CTrendChart() {
    if (m_bCounted) {
        --s_nShown;
    }
}

void CTrendChart::showEvent(QShowEvent* pEvent) {
    QWidget::showEvent(pEvent);
    if (!m_bCounted) {
        m_bCounted = true;
        ++s_nShown;
    }
    m_bDirty = m_bLegendDirty = true;
    m_sinceDraw.start();
    m_sinceLegend.start();
    RefreshLegend();
    m_pTimer->start();
}

void CTrendChart::hideEvent(QHideEvent* pEvent) {
    QWidget::hideEvent(pEvent);
    if (m_bCounted) {
        m_bCounted = false;
        --s_nShown;
    }
    m_pTimer->stop();
}

void CTrendChart::DataChanged() {
    m_bDirty = m_bLegendDirty = true;
}

void CTrendChart::OnTick() {
    if (m_bLegendDirty && m_sinceLegend.elapsed() >= LEGEND_MILLIS) {
        m_bLegendDirty = false;
        m_sinceLegend.restart();
        RefreshLegend();
    }
    // The charts shown share the window thread's time for drawing: with
    // many of them, or a slow display, each draws less often.
    const double dSpacing =
        std::max(double(REDRAW_MILLIS), double(s_nShown) * m_pPlot->PaintMillis() / DRAW_SHARE);
    if (!m_bDirty || double(m_sinceDraw.elapsed()) < dSpacing) {
        return;
    }
    m_bDirty = false;
    m_sinceDraw.restart();
    if (!m_bPaused) {
        m_pPlot->update();
    }
}

std::int64_t CTrendChart::RightMillis() const {
    return m_bPaused ? m_nRight : m_history.NewestMillis();
}

int CTrendChart::LevelShown() const {
    const int nWidth = std::max(1, m_pPlot->width() - 78);
    return m_history.LevelFor(RightMillis() - m_nSpan, m_nSpan / (2 * nWidth));
}

void CTrendChart::SetPaused(bool bPaused) {
    if (bPaused && !m_bPaused) {
        m_nRight = m_history.NewestMillis();
    }
    m_bPaused = bPaused;
    if (m_btnPause->isChecked() != bPaused) {
        m_btnPause->setChecked(bPaused);
    }
    m_pPlot->update();
}

void CTrendChart::ScrollTo(std::int64_t nMillis) {
    SetPaused(true);
    m_nRight = std::min(nMillis, m_history.NewestMillis());
    m_pPlot->update();
}

void CTrendChart::SetSpan(std::int64_t nMillis) {
    m_nSpan = std::clamp(nMillis, MIN_SPAN, MAX_SPAN);
    const auto* pFound = std::find_if(std::begin(SPANS), std::end(SPANS),
                                      [&](const CSpanChoice& s) { return s.nMillis == m_nSpan; });
    m_comboSpan->setCurrentIndex(pFound != std::end(SPANS) ? int(pFound - SPANS) : -1);
    m_pPlot->update();
}

QColor CTrendChart::TraceColor(int nRow) {
    static const QColor COLORS[] = {
        QColor(31, 119, 180),  QColor(255, 127, 14), QColor(44, 160, 44),   QColor(214, 39, 40),
        QColor(148, 103, 189), QColor(140, 86, 75),  QColor(227, 119, 194), QColor(127, 127, 127),
        QColor(188, 189, 34),  QColor(23, 190, 207), QColor(57, 59, 121),   QColor(231, 186, 82),
        QColor(99, 121, 57),   QColor(173, 73, 74),  QColor(49, 130, 189),  QColor(49, 163, 84),
    };
    return COLORS[size_t(nRow) % std::size(COLORS)];
}

QString CTrendChart::RowLabel(int nRow) const {
    const CTrendKey& key = m_history.Key();
    const bool bBits =
        key.nReadFunction == READ_OUTPUT_STATUS || key.nReadFunction == READ_INPUT_STATUS;
    const long nStep = bBits ? 1 : long(RegistersPerValue(key.nDataType));
    return QString("[%1]").arg(key.nAddress + nRow * nStep);
}

void CTrendChart::RefreshLegend() {
    const int nRows = m_history.RowCount();
    m_bFillingLegend = true;
    if (!(m_history.Key() == m_legendKey) || nRows != m_nLegendRows) {
        m_legendKey = m_history.Key();
        m_nLegendRows = nRows;
        m_treeLegend->clear();
        for (int nRow = 0; nRow < nRows; ++nRow) {
            auto* pItem = new QTreeWidgetItem(m_treeLegend);
            QPixmap swatch(12, 12);
            swatch.fill(TraceColor(nRow));
            pItem->setIcon(COLUMN_ROW, swatch);
            pItem->setFlags(pItem->flags() | Qt::ItemIsUserCheckable);
            pItem->setCheckState(COLUMN_ROW, Qt::Unchecked);
        }
    }
    std::vector<bool> traced(size_t(std::max(nRows, 0)), false);
    for (size_t i = 0; i < m_history.TraceCount(); ++i) {
        const int nRow = m_history.TraceRow(i);
        if (nRow < nRows) {
            traced[size_t(nRow)] = true;
            const CString strLast = m_history.TraceLastText(i);
            QTreeWidgetItem* pItem = m_treeLegend->topLevelItem(nRow);
            const QString text =
                strLast.empty() ? RowLabel(nRow) : QString::fromLatin1(strLast.c_str());
            if (pItem->text(COLUMN_ROW) != text) {
                pItem->setText(COLUMN_ROW, text);
            }
        }
    }
    for (int nRow = 0; nRow < nRows; ++nRow) {
        QTreeWidgetItem* pItem = m_treeLegend->topLevelItem(nRow);
        const CTraceStyle& style = Style(nRow);
        const Qt::CheckState state = traced[size_t(nRow)] ? Qt::Checked : Qt::Unchecked;
        if (pItem->checkState(COLUMN_ROW) != state) {
            pItem->setCheckState(COLUMN_ROW, state);
        }
        if (!traced[size_t(nRow)] && pItem->text(COLUMN_ROW).isEmpty()) {
            pItem->setText(COLUMN_ROW, RowLabel(nRow));
        }
        const QString strAxis = style.bRightAxis ? "Right" : "Left";
        const QString strRange =
            style.bFixed
                ? QString("%1 to %2").arg(style.dLow, 0, 'g', 6).arg(style.dHigh, 0, 'g', 6)
                : QString("Auto");
        if (pItem->text(COLUMN_AXIS) != strAxis) {
            pItem->setText(COLUMN_AXIS, strAxis);
        }
        if (pItem->text(COLUMN_RANGE) != strRange) {
            pItem->setText(COLUMN_RANGE, strRange);
        }
    }
    m_bFillingLegend = false;
}

void CTrendChart::OnLegendChanged(QTreeWidgetItem*, int nColumn) {
    if (m_bFillingLegend || nColumn != COLUMN_ROW) {
        return;
    }
    std::vector<int> rows;
    for (int n = 0; n < m_treeLegend->topLevelItemCount(); ++n) {
        if (m_treeLegend->topLevelItem(n)->checkState(COLUMN_ROW) == Qt::Checked) {
            rows.push_back(n);
        }
    }
    // At least one row and at most 16 are plotted; the legend shows which.
    if (!rows.empty()) {
        m_history.ChooseRows(rows);
    }
    RefreshLegend();
    m_pPlot->update();
}

void CTrendChart::OnLegendMenu(const QPoint& pos) {
    QTreeWidgetItem* pItem = m_treeLegend->itemAt(pos);
    if (pItem == nullptr) {
        return;
    }
    const int nRow = m_treeLegend->indexOfTopLevelItem(pItem);
    CTraceStyle& style = Style(nRow);
    QMenu menu(this);
    QAction* pRight = menu.addAction("Right Axis");
    pRight->setCheckable(true);
    pRight->setChecked(style.bRightAxis);
    QAction* pFixed = menu.addAction("Fixed Range...");
    QAction* pAuto = menu.addAction("Autoscale");
    pAuto->setCheckable(true);
    pAuto->setChecked(!style.bFixed);
    QAction* pChosen = menu.exec(m_treeLegend->viewport()->mapToGlobal(pos));
    if (pChosen == pRight) {
        style.bRightAxis = !style.bRightAxis;
    } else if (pChosen == pAuto) {
        style.bFixed = false;
    } else if (pChosen == pFixed) {
        bool bLow = false, bHigh = false;
        const double dLow = QInputDialog::getDouble(
            this, "Fixed Range", "Lowest value:", style.dLow, -1e300, 1e300, 6, &bLow);
        const double dHigh =
            bLow ? QInputDialog::getDouble(this, "Fixed Range",
                                           "Highest value:", std::max(style.dHigh, dLow + 1), dLow,
                                           1e300, 6, &bHigh)
                 : 0;
        if (bLow && bHigh && dHigh > dLow) {
            style = {style.bRightAxis, true, dLow, dHigh};
        }
    }
    RefreshLegend();
    m_pPlot->update();
}

bool CTrendChart::ExportPng(const QString& strPath, QString& strError) const {
    const QImage image = m_pBody->grab().toImage();
    if (!image.save(strPath, "PNG")) {
        strError = "Cannot write " + strPath;
        return false;
    }
    return true;
}

bool CTrendChart::ExportCsv(const QString& strPath, QString& strError) const {
    const std::int64_t nRight = RightMillis();
    CString strText;
    for (const CString& strLine : m_history.LogLines(LevelShown(), nRight - m_nSpan, nRight + 1)) {
        strText += strLine;
        strText += '\n';
    }
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(strText.data(), qint64(strText.size())) != qint64(strText.size()) ||
        !file.flush()) {
        strError = "Cannot write " + strPath + ": " + file.errorString();
        return false;
    }
    return true;
}

void CTrendChart::OnExport(bool bPng) {
    const QString strPath = m_chooseFile ? m_chooseFile(bPng ? "Export PNG" : "Export CSV",
                                                        bPng ? "PNG images (*.png);;All files (*)"
                                                             : "CSV files (*.csv);;All files (*)")
                                         : QString();
    if (strPath.isEmpty()) {
        return;
    }
    QString strError;
    if (!(bPng ? ExportPng(strPath, strError) : ExportCsv(strPath, strError))) {
        AfxMessageBox(strError.toStdString(), MB_OK);
    }
}
