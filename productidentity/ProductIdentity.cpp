#include "productidentity/ProductIdentity.h"

#include "platform/ExecutablePath.h"
#include "productidentity/ProductRows.h"

namespace Corvan
{
namespace
{
// Plain pointer, no lock: only the GUI thread asks, and the record outlives every user.
ProductIdentity* s_pInstance = nullptr;
} // namespace

std::string BrandingKeyFromPath(const std::string& strPath)
{
    const size_t separator = strPath.find_last_of("/\\");
    const std::string fileName = separator == std::string::npos ? strPath : strPath.substr(separator + 1);
    std::string key = fileName.substr(0, fileName.find_last_of('.'));
    // By hand rather than through tolower(): the key must not depend on the process's locale, and
    // bytes of multi-byte characters must pass untouched.
    for (char& c : key)
    {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

std::string ProductKeyFromPath(const std::string& strPath)
{
    return SelectProductRow(BrandingKeyFromPath(strPath)).pszKey;
}

ProductIdentity* ProductIdentity::Instance()
{
    // Should building throw, new releases the memory and the pointer stays null for the next call.
    if (!s_pInstance)
        s_pInstance = new ProductIdentity();
    return s_pInstance;
}

ProductIdentity::ProductIdentity()
{
    // The overlay starts as opaque black; only rows that define one change it.
    m_nSplashOverlayAlpha = 255;
    LoadProductInfo(ComputeBrandingKey());
}

const char* ProductIdentity::GetProductTitle() const
{
    return m_pszProductTitle;
}

std::string ProductIdentity::ComputeBrandingKey()
{
    return BrandingKeyFromPath(Platform::ExecutablePath());
}

void ProductIdentity::LoadProductInfo(std::string strBrandingKey)
{
    m_strBrandingKey = std::move(strBrandingKey);
    ApplyRow(SelectProductRow(m_strBrandingKey));
}

void ProductIdentity::ApplyRow(const ProductRow& row)
{
    m_pszVendorName = row.pszVendorName;
    m_pszHomePageURL = row.pszHomePageURL;
    m_pszProductTitle = row.pszProductTitle;
    m_pszProductShortName = row.pszProductShortName;
    m_pszProductFullName = row.pszProductFullName;
    m_pszLogoSquarePath = row.pszLogoSquarePath;
    m_pszLogoWidePath = row.pszLogoWidePath;
    m_pszProgressAnimationPath = row.pszProgressAnimationPath;
    m_pszLogoGifPath = row.pszLogoGifPath;
    m_pszLegalNotice = row.pszLegalNotice;
    m_pszSupportContact = row.pszSupportContact;
    m_pszSupportEmail = row.pszSupportEmail;
    m_pszBuyURL = row.pszBuyURL;
    m_pszShowcaseURL = row.pszShowcaseURL;
    m_pszTutorialsURL = row.pszTutorialsURL;
    m_pszPdfAuthor = row.pszPdfAuthor;
    m_pszPdfTitle = row.pszPdfTitle;
    m_pszPdfSubject = row.pszPdfSubject;
    m_pszPdfKeywords = row.pszPdfKeywords;
    m_pszPdfCreator = row.pszPdfCreator;
    m_pszDocumentFilter = row.pszDocumentFilter;
    m_pszArchiveFilter = row.pszArchiveFilter;
    m_pszViewerDownloadURL = row.pszViewerDownloadURL;
    m_nReleaseNumber = row.nReleaseNumber;
    m_nMajorVersion = row.nMajorVersion;
    m_nSplashSetting = row.nSplashSetting;
    m_strSplashImagePrefix = row.pszSplashImagePrefix;
    if (const ProductSplashOverlay* overlay = row.pSplashOverlay)
    {
        m_nSplashOverlayX = overlay->nX;
        m_nSplashOverlayY = overlay->nY;
        m_nSplashOverlayWidth = overlay->nWidth;
        m_nSplashOverlayHeight = overlay->nHeight;
        m_nSplashOverlayRed = overlay->nRed;
        m_nSplashOverlayGreen = overlay->nGreen;
        m_nSplashOverlayBlue = overlay->nBlue;
    }
    for (size_t i = 0; i < row.nHelpEntryCount; ++i)
    {
        const int32_t first = static_cast<int32_t>(3 * i);
        m_mapHelpEntries[first] = row.pHelpEntries[i].pszTitle;
        m_mapHelpEntries[first + 1] = row.pHelpEntries[i].pszIconPath;
        m_mapHelpEntries[first + 2] = row.pHelpEntries[i].pszURL;
    }
}

} // namespace Corvan
