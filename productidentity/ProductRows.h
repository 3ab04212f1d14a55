#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Corvan
{

// One help entry of a product: what the help menu shows and where it leads.
struct ProductHelpEntry
{
    const char* pszTitle;
    const char* pszIconPath; // Qt resource path
    const char* pszURL;
};

// The rectangle and colour drawn over a product's splash image.
struct ProductSplashOverlay
{
    int32_t nX, nY, nWidth, nHeight;
    int32_t nRed, nGreen, nBlue;
};

// The branding of one product, as compiled into the program. Every text is a literal.
struct ProductRow
{
    const char* pszKey; // the branding key that selects the row; empty for the default row
    const char* pszVendorName;
    const char* pszHomePageURL;
    const char* pszProductTitle;
    const char* pszProductShortName;
    const char* pszProductFullName;
    const char* pszLogoSquarePath;
    const char* pszLogoWidePath;
    const char* pszProgressAnimationPath;
    const char* pszLogoGifPath;
    const char* pszLegalNotice;
    const char* pszSupportContact;
    const char* pszSupportEmail;
    const char* pszBuyURL;
    const char* pszShowcaseURL;
    const char* pszTutorialsURL;
    const char* pszPdfAuthor;
    const char* pszPdfTitle;
    const char* pszPdfSubject;
    const char* pszPdfKeywords;
    const char* pszPdfCreator;
    const char* pszDocumentFilter;
    const char* pszArchiveFilter;
    const char* pszViewerDownloadURL;
    int32_t nReleaseNumber;
    int32_t nMajorVersion;
    int32_t nSplashSetting;
    const char* pszSplashImagePrefix;
    const ProductSplashOverlay* pSplashOverlay; // null: the record keeps its construction values
    const ProductHelpEntry* pHelpEntries;
    size_t nHelpEntryCount;
};

// The row for every branding key that names no product.
const ProductRow& DefaultProductRow();

// The keyed rows, in the order they are compared.
const ProductRow* KeyedProductRows();
size_t KeyedProductRowCount();

// The row whose key equals `key` byte for byte, or the default row.
const ProductRow& SelectProductRow(const std::string& key);

} // namespace Corvan
