#include "CertificateListCtrl.h"

#include <QFontMetrics>
#include <QHash>
#include <QHelpEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>

#include "CertificateViewer.h"
#include "FoundationLibrary.h"
#include "trace/TraceHelper.h"

#define TRACE_WMODULE u"CertificateListCtrl"

namespace {

struct RowColours {
    QColor top, bottom, border;
};
const RowColours kSelected{QColor(221, 236, 253), QColor(194, 220, 253), QColor(125, 182, 206)};
const RowColours kHovered{QColor(253, 254, 255), QColor(185, 215, 252), QColor(243, 248, 255)};

// Paints the list's rows through the control, and shows the holder's name
// as the tooltip of the row under the mouse.
class CertificateRowDelegate : public QStyledItemDelegate {
public:
    explicit CertificateRowDelegate(CCertificateList* pList) : QStyledItemDelegate(pList), m_pList(pList) {}

    void paint(QPainter* pPainter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        m_pList->DrawItem(*pPainter, option.rect, index.row(), option.state & QStyle::State_Selected,
                          option.state & QStyle::State_MouseOver);
    }

    // Every row is 80 pixels high; a width of 0 keeps the horizontal
    // scroll bar away.
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        return QSize(0, CERTIFICATE_ROW_HEIGHT);
    }

    bool helpEvent(QHelpEvent* pEvent, QAbstractItemView* pView, const QStyleOptionViewItem&,
                   const QModelIndex& index) override
    {
        const auto& items = m_pList->Items();
        if (pEvent->type() != QEvent::ToolTip || !index.isValid() || index.row() >= static_cast<int>(items.size()))
            return false;
        // A tooltip takes anything that looks like markup for rich text; the
        // name is certificate data and is shown exactly as it is written.
        const QString strName = QString::fromStdU16String(items[index.row()].strName);
        QToolTip::showText(pEvent->globalPos(),
                           QStringLiteral("<p style='white-space:pre-wrap'>%1</p>").arg(strName.toHtmlEscaped()), pView);
        return true;
    }

private:
    CCertificateList* m_pList;
};

} // namespace

QStringList YaHeiFaces()
{
    return {"Microsoft YaHei", "Noto Sans CJK SC", "WenQuanYi Micro Hei", "Droid Sans Fallback"};
}

QStringList ArialFaces() { return {"Arial", "Liberation Sans"}; }

namespace {

// Ascent plus descent of the faces at a pixel (em) size.
qreal CellHeightAt(QFont font, int nPixelSize)
{
    font.setPixelSize(nPixelSize);
    const QFontMetricsF metrics(font);
    return metrics.ascent() + metrics.descent();
}

// The largest em size whose cell (ascent plus descent, internal leading
// included) fits in nCellHeight pixels. A face's cell is a fixed share of its
// em size, so one measurement gives the answer to within a pixel; the
// neighbours settle the rounding of the hinted metrics.
int PixelSizeForCell(const QFont& font, int nCellHeight)
{
    // FreeType metrics are 26.6 fixed point: allow for that much noise.
    const qreal kSlack = 1.0 / 64;
    const qreal dTrial = CellHeightAt(font, nCellHeight);
    int nSize = dTrial > 0 ? static_cast<int>(nCellHeight * nCellHeight / dTrial) : nCellHeight;
    nSize = std::clamp(nSize, 1, nCellHeight);
    while (nSize > 1 && CellHeightAt(font, nSize) > nCellHeight + kSlack)
        --nSize;
    while (nSize < nCellHeight && CellHeightAt(font, nSize + 1) <= nCellHeight + kSlack)
        ++nSize;
    return nSize;
}

} // namespace

QFont CellFont(const QStringList& faces, int nCharWidth, int nCharHeight)
{
    QFont font;
    if (!faces.isEmpty())
        font.setFamilies(faces);
    font.setWeight(QFont::Normal);
    // Measuring takes a few font look-ups; every row of every repaint asks
    // for the same handful of fonts.
    static QHash<QString, int> s_pixelSizes;
    const QString strKey = faces.join(u',') + u'/' + QString::number(nCharHeight);
    auto it = s_pixelSizes.constFind(strKey);
    if (it == s_pixelSizes.cend())
        it = s_pixelSizes.insert(strKey, PixelSizeForCell(font, std::max(nCharHeight, 1)));
    font.setPixelSize(*it);
    // The character width asks for an average width: stretch the face to it.
    const int nAverage = QFontMetrics(font).averageCharWidth();
    if (nCharWidth > 0 && nAverage > 0)
        font.setStretch(std::clamp(100 * nCharWidth / nAverage, 1, 4000));
    return font;
}

void DrawTextLine(QPainter& painter, const QStringList& faces, const std::u16string& text, int x, int y, int nRight,
                  int nCharWidth, int nCharHeight, const QColor& colour)
{
    const QFont font = CellFont(faces, nCharWidth, nCharHeight);
    const QString qText = QString::fromStdU16String(text);
    QRect rect = QFontMetrics(font).boundingRect(QRect(0, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop, qText);
    rect.moveTo(x, y);
    if (nRight > 0 && rect.right() + 1 >= nRight)
        rect.setRight(nRight - 1);

    painter.save();
    painter.setFont(font);
    painter.setPen(colour);
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, qText);
    painter.restore();
}

CCertificateList::CCertificateList(QWidget* pParent) : QListWidget(pParent)
{
    setItemDelegate(new CertificateRowDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setUniformItemSizes(true);
    // Hover highlights need mouse tracking and hover events on the viewport.
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* pItem) { OnLButtonDblClk(row(pItem)); });
}

CCertificateList::~CCertificateList() = default;

HRESULT CCertificateList::Initialize(HINSTANCE hModule, bool bUseYaHeiFont, std::vector<CertificateListItem> vtrItems)
{
    TraceHelper traceHelper("CCertificateList::Initialize");
    static constexpr char16_t kFunc[] = u"CCertificateList::Initialize";
    m_bUseYaHeiFont = bUseYaHeiFont;
    struct Picture {
        uint16_t nId;
        std::unique_ptr<QImage>* ppImage;
        const char16_t* pwszStep;
    };
    const Picture pictures[] = {
        {IDB_SYSTEM_CERTIFICATE, &m_pSystemCertImage, u"LoadImageFromResource (System certificate)"},
        {IDB_KEY_CERTIFICATE, &m_pKeyCertImage, u"LoadImageFromResource (Key certificate)"},
        {IDB_CERTIFICATE_FRAME, &m_pFrameImage, u"LoadImageFromResource (Certificate frame)"},
    };
    for (const Picture& picture : pictures) {
        const HRESULT hr = LoadImageFromResource(hModule, picture.nId, picture.ppImage);
        if (FAILED(hr)) {
            TRACE_WSTEP_FAILED(kFunc, picture.pwszStep, hr, u"FAILED(hResult)");
            return hr;
        }
        TRACE_WSTEP_OK(kFunc, picture.pwszStep);
    }
    m_vtrCertificateItems = std::move(vtrItems);
    return KVRA_OK;
}

void CCertificateList::DrawItem(QPainter& painter, const QRect& rect, int nIndex, bool bSelected,
                                bool bHovered) const
{
    if (nIndex < 0 || nIndex >= static_cast<int>(m_vtrCertificateItems.size()))
        return;
    const CertificateListItem& item = m_vtrCertificateItems[nIndex];
    const int w = rect.width(), h = rect.height();

    painter.save();
    painter.translate(rect.topLeft());
    painter.setClipRect(QRect(0, 0, w, h));
    painter.fillRect(QRect(0, 0, w, h), Qt::white);

    if (bSelected || bHovered) {
        const RowColours& colours = bSelected ? kSelected : kHovered;
        QLinearGradient gradient(0, 1, 0, h - 1);
        gradient.setColorAt(0, colours.top);
        gradient.setColorAt(1, colours.bottom);
        painter.fillRect(QRect(1, 1, w - 2, h - 2), gradient);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(colours.border, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(0, 0, w - 1, h - 1), 3, 3);
    }

    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QImage* pSymbol = item.bHardwareKey == 1 ? m_pKeyCertImage.get() : m_pSystemCertImage.get();
    if (pSymbol != nullptr)
        painter.drawImage(QRect(14, 14, 48, 48), *pSymbol);
    if (m_pFrameImage) {
        const int nCorner = (CERTIFICATE_ROW_HEIGHT - m_pFrameImage->height()) / 2;
        painter.drawImage(QPoint(nCorner, nCorner), *m_pFrameImage);
    }

    const QStringList faces = m_bUseYaHeiFont ? YaHeiFaces() : ArialFaces();
    const int nRight = w - 15;
    const int nLargeHeight = m_bUseYaHeiFont ? 20 : 16;
    const int nSmallHeight = m_bUseYaHeiFont ? 18 : 14;
    DrawTextLine(painter, faces, item.strName, 80, 5, nRight, 8, nLargeHeight, Qt::black);
    DrawTextLine(painter, faces, item.strIssuer, 80, 25, nRight, 6, nSmallHeight, Qt::black);
    DrawTextLine(painter, faces, item.strSerialNumber, 80, 40, nRight, 6, nSmallHeight, Qt::black);
    DrawTextLine(painter, faces, item.strValidity, 80, 55, nRight, 6, nSmallHeight, Qt::black);
    painter.restore();
}

void CCertificateList::OnLButtonDblClk(int nIndex)
{
    TraceHelper traceHelper("CCertificateList::OnLButtonDblClk");
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCertificateList, 10, static_cast<int32_t>(nIndex));
    if (nIndex < 0 || nIndex >= static_cast<int>(m_vtrCertificateItems.size()))
        return;
    CCertificateViewer viewer(m_vtrCertificateItems[nIndex].pCertContext, this);
    viewer.exec();
}
