// The Windows dialog's drawing pieces, without a window: its pictures from
// the program's resources through GDI+, and its text lines.
#include <gtest/gtest.h>

#include <string>

#include "ui/win32/CertificateListCtrl.h"
#include "ui/win32/FoundationLibrary.h"

namespace {

// GDI+ for one test.
class GdiplusSession {
public:
    GdiplusSession() { Gdiplus::GdiplusStartup(&m_token, &m_input, nullptr); }
    ~GdiplusSession() { Gdiplus::GdiplusShutdown(m_token); }

private:
    Gdiplus::GdiplusStartupInput m_input;
    ULONG_PTR m_token = 0;
};

// A white 32-bit surface to draw on, and a way to see what was drawn.
class Canvas {
public:
    Canvas(int w, int h) : m_w(w), m_h(h)
    {
        BITMAPINFO bmi{};
        bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
        bmi.bmiHeader.biWidth = w;
        bmi.bmiHeader.biHeight = -h;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        m_hDC = CreateCompatibleDC(nullptr);
        m_hBitmap = CreateDIBSection(m_hDC, &bmi, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_pBits), nullptr, 0);
        m_hOld = SelectObject(m_hDC, m_hBitmap);
        RECT rc{0, 0, w, h};
        FillRect(m_hDC, &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    ~Canvas()
    {
        SelectObject(m_hDC, m_hOld);
        DeleteObject(m_hBitmap);
        DeleteDC(m_hDC);
    }
    HDC Dc() const { return m_hDC; }
    bool Inked(int x, int y) const
    {
        GdiFlush();
        return (m_pBits[y * m_w + x] & 0xFFFFFF) != 0xFFFFFF;
    }
    // One past the rightmost column with ink, or 0 when nothing was drawn.
    int InkRight() const
    {
        for (int x = m_w - 1; x >= 0; --x)
            for (int y = 0; y < m_h; ++y)
                if (Inked(x, y))
                    return x + 1;
        return 0;
    }

private:
    int m_w, m_h;
    HDC m_hDC = nullptr;
    HBITMAP m_hBitmap = nullptr;
    HGDIOBJ m_hOld = nullptr;
    uint32_t* m_pBits = nullptr;
};

} // namespace

TEST(DialogImages, TheThreePicturesLoadFromTheProgramAndStayDrawable)
{
    GdiplusSession gdiplus;
    const struct {
        uint16_t nId;
        UINT nSize;
    } pictures[] = {{IDB_SYSTEM_CERTIFICATE, 128}, {IDB_KEY_CERTIFICATE, 128}, {IDB_CERTIFICATE_FRAME, 62}};
    for (const auto& picture : pictures) {
        std::unique_ptr<Gdiplus::Image> pImage;
        ASSERT_EQ(LoadImageFromResource(nullptr, picture.nId, &pImage), 0) << picture.nId;
        ASSERT_NE(pImage, nullptr);
        EXPECT_EQ(pImage->GetWidth(), picture.nSize);
        EXPECT_EQ(pImage->GetHeight(), picture.nSize);
        // The bytes the image was made from are gone by now; drawing it
        // must still work and leave a picture.
        Canvas canvas(64, 64);
        {
            Gdiplus::Graphics graphics(canvas.Dc());
            EXPECT_EQ(graphics.DrawImage(pImage.get(), Gdiplus::Rect(0, 0, 64, 64), 0, 0,
                                         static_cast<INT>(picture.nSize), static_cast<INT>(picture.nSize),
                                         Gdiplus::UnitPixel),
                      Gdiplus::Ok);
        }
        EXPECT_GT(canvas.InkRight(), 0) << picture.nId;
    }
}

TEST(DialogImages, MissingPicturesAndEmptyDataFail)
{
    GdiplusSession gdiplus;
    std::unique_ptr<Gdiplus::Image> pImage;
    // The dialog template's id names no picture.
    EXPECT_EQ(static_cast<uint32_t>(LoadImageFromResource(nullptr, 101, &pImage)), 0x80070716u);
    EXPECT_EQ(pImage, nullptr);

    const uint8_t bytes[] = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    EXPECT_EQ(_LoadImageFromData(0, bytes, &pImage), E_INVALIDARG);
    EXPECT_EQ(_LoadImageFromData(sizeof bytes, nullptr, &pImage), E_INVALIDARG);
    EXPECT_EQ(pImage, nullptr);
    // Bytes that do not decode still make an object; drawing it fails.
    ASSERT_EQ(_LoadImageFromData(sizeof bytes, bytes, &pImage), 0);
    ASSERT_NE(pImage, nullptr);
    EXPECT_EQ(pImage->GetWidth(), 0u);
}

TEST(DialogText, LinesAreDrawnAsWrittenAndCutAtTheRightLimit)
{
    // An ampersand is text, not a mnemonic prefix: "Sm&ith" is drawn wider
    // than "Smith" (as a prefix, the ampersand would only underline the i).
    auto inkRight = [](const std::u16string& text) {
        Canvas canvas(400, 40);
        DrawTextLine(L"Arial", canvas.Dc(), text, 0, 0, 0, 8, 16, RGB(0, 0, 0));
        return canvas.InkRight();
    };
    const int nPlain = inkRight(u"Smith");
    ASSERT_GT(nPlain, 0);
    EXPECT_GT(inkRight(u"Sm&ith"), nPlain + 2);

    // A name longer than the row is cut at the limit, not left out.
    const std::u16string wstrLong(200, u'W');
    Canvas canvas(400, 40);
    DrawTextLine(L"Arial", canvas.Dc(), wstrLong, 80, 5, 300, 8, 20, RGB(0, 0, 0));
    EXPECT_GT(canvas.InkRight(), 250);
    EXPECT_LE(canvas.InkRight(), 300);
    EXPECT_FALSE(canvas.Inked(70, 15));
}
