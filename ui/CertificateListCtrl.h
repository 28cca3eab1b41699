// The certificate list of the selection dialog: one 80-pixel card per
// certificate with a key-location symbol, a frame and four lines of text; a
// blue gradient for the selected and the hovered row, the holder's name as
// a tooltip, and the certificate viewer on a double click.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QListWidget>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

#include "CertificateListItems.h"
#include "kernel/platform/StatusCodes.h"
#include "kernel/platform/CertContext.h"
#include "kernel/platform/ResourceModule.h"

class QPainter;

// The font faces, each with the fallbacks that Linux systems have.
QStringList YaHeiFaces();
QStringList ArialFaces();

// The font of a text line: the first of the faces that is installed, at the
// largest pixel size whose ascent plus descent (the cell, internal leading
// included) is no more than nCharHeight, stretched to an average character
// width of nCharWidth when that is positive.
QFont CellFont(const QStringList& faces, int nCharWidth, int nCharHeight);

// Draws one line of text with its top at (x, y) in the CellFont of the given
// character width and cell height, cut (never ellipsised) at nRight when
// nRight > 0.
void DrawTextLine(QPainter& painter, const QStringList& faces, const std::u16string& text, int x, int y, int nRight,
                  int nCharWidth, int nCharHeight, const QColor& colour);

class CCertificateList : public QListWidget {
public:
    explicit CCertificateList(QWidget* pParent = nullptr);
    ~CCertificateList() override;

    // Loads the three pictures and keeps a copy of the rows. The first
    // picture that fails to load stops it with that status.
    HRESULT Initialize(HINSTANCE hModule, bool bUseYaHeiFont, std::vector<CertificateListItem> vtrItems);

    const std::vector<CertificateListItem>& Items() const { return m_vtrCertificateItems; }

    // Draws row nIndex into rect. A selected row uses the selected colours
    // whether or not it is hovered.
    void DrawItem(QPainter& painter, const QRect& rect, int nIndex, bool bSelected, bool bHovered) const;

    // Opens the certificate viewer for row nIndex.
    void OnLButtonDblClk(int nIndex);

private:
    bool m_bUseYaHeiFont = true;
    std::unique_ptr<QImage> m_pSystemCertImage;
    std::unique_ptr<QImage> m_pKeyCertImage;
    std::unique_ptr<QImage> m_pFrameImage;
    std::vector<CertificateListItem> m_vtrCertificateItems;
};
