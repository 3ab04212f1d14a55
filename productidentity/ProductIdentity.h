#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace Corvan
{

struct ProductRow;

// The branding key of an executable path: the file name after the last slash or backslash, cut
// before its last dot, with "A" to "Z" lower-cased and every other byte left as it is.
std::string BrandingKeyFromPath(const std::string& strPath);

// The key of the product an executable at `strPath` carries: its branding key when that selects a
// keyed row, empty for every name that selects the default row. Reads no record.
std::string ProductKeyFromPath(const std::string& strPath);

// The process-wide product branding record, chosen by the executable's name. Its texts are literals
// of the compiled-in product table and live as long as the process.
class ProductIdentity
{
public:
    // The one record, built on the first call and never destroyed.
    static ProductIdentity* Instance();

    // The product's display title (UTF-8), never null.
    const char* GetProductTitle() const;

    ProductIdentity(const ProductIdentity&) = delete;
    ProductIdentity& operator=(const ProductIdentity&) = delete;

private:
    ProductIdentity();

    // The branding key of the running executable; empty when its path cannot be read.
    std::string ComputeBrandingKey();
    // Stores the key and fills the record from the row it selects.
    void LoadProductInfo(std::string strBrandingKey);
    void ApplyRow(const ProductRow& row);

    std::string m_strBrandingKey;
    const char* m_pszVendorName = nullptr;
    const char* m_pszHomePageURL = nullptr;
    const char* m_pszProductTitle = nullptr;
    const char* m_pszProductShortName = nullptr;
    const char* m_pszProductFullName = nullptr;
    const char* m_pszLogoSquarePath = nullptr;
    const char* m_pszLogoWidePath = nullptr;
    const char* m_pszProgressAnimationPath = nullptr;
    const char* m_pszLogoGifPath = nullptr;
    const char* m_pszLegalNotice = nullptr;
    const char* m_pszSupportContact = nullptr;
    const char* m_pszSupportEmail = nullptr;
    const char* m_pszBuyURL = nullptr;
    const char* m_pszShowcaseURL = nullptr;
    const char* m_pszTutorialsURL = nullptr;
    const char* m_pszPdfAuthor = nullptr;
    const char* m_pszPdfTitle = nullptr;
    const char* m_pszPdfSubject = nullptr;
    const char* m_pszPdfKeywords = nullptr;
    const char* m_pszPdfCreator = nullptr;
    const char* m_pszDocumentFilter = nullptr;
    const char* m_pszArchiveFilter = nullptr;
    const char* m_pszViewerDownloadURL = nullptr;
    int32_t m_nReleaseNumber = 0;
    int32_t m_nMajorVersion = 0;
    int32_t m_nSplashOverlayX = 0;
    int32_t m_nSplashOverlayY = 0;
    int32_t m_nSplashOverlayWidth = 0;
    int32_t m_nSplashOverlayHeight = 0;
    int32_t m_nSplashOverlayRed = 0;
    int32_t m_nSplashOverlayGreen = 0;
    int32_t m_nSplashOverlayBlue = 0;
    int32_t m_nSplashOverlayAlpha = 0;
    int32_t m_nSplashSetting = 0;
    std::string m_strSplashImagePrefix;
    // Entry i is stored as three keys: 3i its title, 3i+1 its icon's resource path, 3i+2 its address.
    std::map<int32_t, const char*> m_mapHelpEntries;
};

} // namespace Corvan
