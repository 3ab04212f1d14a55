#include "productidentity/ProductRows.h"

namespace Corvan
{
namespace
{
// Every product of the maker, one row each. Artwork paths name resources of the products themselves;
// this tool carries none of them and loads none.

const ProductHelpEntry AtelierHelp[] = {
    {"User Guide", ":/CorvanAtelier/Resources/Help/Guide.png", "https://corvan-works.example/atelier/guide"},
    {"Keyboard Shortcuts", ":/CorvanAtelier/Resources/Help/Keys.png", "https://corvan-works.example/atelier/keys"},
    {"Release Notes", ":/CorvanAtelier/Resources/Help/Notes.png", "https://corvan-works.example/atelier/notes"},
    {"Contact Support", ":/CorvanAtelier/Resources/Help/Support.png", "https://corvan-works.example/support"},
};

const ProductHelpEntry StudioHelp[] = {
    {"Studio Handbook", ":/CorvanStudio/Resources/Help/Guide.png", "https://corvan-works.example/studio/handbook"},
    {"Video Lessons", ":/CorvanStudio/Resources/Help/Lessons.png", "https://corvan-works.example/studio/lessons"},
    {"Contact Support", ":/CorvanStudio/Resources/Help/Support.png", "https://corvan-works.example/support"},
};

const ProductHelpEntry ReaderHelp[] = {
    {"Reader Help", ":/CorvanReader/Resources/Help/Guide.png", "https://corvan-works.example/reader/help"},
    {"Contact Support", ":/CorvanReader/Resources/Help/Support.png", "https://corvan-works.example/support"},
};

const ProductHelpEntry SketchHelp[] = {
    {"Getting Started", ":/CorvanSketch/Resources/Help/Start.png", "https://corvan-works.example/sketch/start"},
    {"Brush Reference", ":/CorvanSketch/Resources/Help/Brushes.png", "https://corvan-works.example/sketch/brushes"},
    {"Contact Support", ":/CorvanSketch/Resources/Help/Support.png", "https://corvan-works.example/support"},
};

const ProductHelpEntry ArchiveHelp[] = {
    {"Archive Manual", ":/CorvanArchive/Resources/Help/Manual.png", "https://corvan-works.example/archive/manual"},
    {"Contact Support", ":/CorvanArchive/Resources/Help/Support.png", "https://corvan-works.example/support"},
};

const ProductHelpEntry PrintHelp[] = {
    {"Print Guide", ":/CorvanPrint/Resources/Help/Guide.png", "https://corvan-works.example/print/guide"},
    {"Printer Setup", ":/CorvanPrint/Resources/Help/Setup.png", "https://corvan-works.example/print/setup"},
    {"Contact Support", ":/CorvanPrint/Resources/Help/Support.png", "https://corvan-works.example/support"},
};

const ProductSplashOverlay StudioSplash = {24, 188, 352, 36, 45, 45, 45};
const ProductSplashOverlay SketchSplash = {0, 260, 400, 40, 226, 182, 57};

template <size_t N>
constexpr size_t CountOf(const ProductHelpEntry (&)[N])
{
    return N;
}

const ProductRow Default = {
    "",
    "Corvan",
    "https://corvan-works.example/",
    "Corvan Atelier 9",
    "Atelier",
    "Atelier 2024",
    ":/CorvanAtelier/Resources/LogoSquare.png",
    ":/CorvanAtelier/Resources/LogoWide.png",
    ":/CorvanAtelier/Resources/Progress.gif",
    ":/CorvanAtelier/Resources/Logo.gif",
    "(c) 2015-2024 Corvan-Works. All rights reserved.",
    "Corvan Support Desk (support@corvan-works.example)",
    "support@corvan-works.example",
    "https://corvan-works.example/atelier/buy",
    "https://corvan-works.example/showcase",
    "https://corvan-works.example/atelier/tutorials",
    "Corvan Atelier (https://corvan-works.example/)",
    "Atelier Document",
    "Created with Corvan Atelier",
    "Corvan;Atelier;document",
    "Corvan Atelier 9",
    "Atelier Documents (*.cvad)",
    "Atelier Archives (*.cvaz)",
    "https://corvan-works.example/downloads/viewer-setup.exe",
    2024,
    9,
    1,
    ":/CorvanAtelier/Resources/Splash/Splash_",
    nullptr,
    AtelierHelp,
    CountOf(AtelierHelp),
};

const ProductRow Keyed[] = {
    {
        "corvanstudio",
        "Corvan",
        "https://corvan-works.example/",
        "Corvan Studio 7",
        "Studio",
        "Studio 2023",
        ":/CorvanStudio/Resources/LogoSquare.png",
        ":/CorvanStudio/Resources/LogoWide.png",
        ":/CorvanStudio/Resources/Progress.gif",
        ":/CorvanStudio/Resources/Logo.gif",
        "(c) 2017-2023 Corvan-Works. All rights reserved.",
        "Corvan Studio Support (studio-support@corvan-works.example)",
        "studio-support@corvan-works.example",
        "https://corvan-works.example/studio/buy",
        "https://corvan-works.example/showcase/studio",
        "https://corvan-works.example/studio/tutorials",
        "Corvan Studio (https://corvan-works.example/)",
        "Studio Project",
        "Created with Corvan Studio",
        "Corvan;Studio;project",
        "Corvan Studio 7",
        "Studio Projects (*.cvsp)",
        "Studio Archives (*.cvsz)",
        "https://corvan-works.example/downloads/viewer-setup.exe",
        2023,
        7,
        2,
        ":/CorvanStudio/Resources/Splash/Splash_",
        &StudioSplash,
        StudioHelp,
        CountOf(StudioHelp),
    },
    {
        "corvanreader",
        "Corvan",
        "https://corvan-works.example/",
        "Corvan Reader 5",
        "Reader",
        "Reader 2024",
        ":/CorvanReader/Resources/LogoSquare.png",
        ":/CorvanReader/Resources/LogoWide.png",
        ":/CorvanReader/Resources/Progress.gif",
        ":/CorvanReader/Resources/Logo.gif",
        "(c) 2019-2024 Corvan-Works. All rights reserved.",
        "Corvan Support Desk (support@corvan-works.example)",
        "support@corvan-works.example",
        "https://corvan-works.example/reader/buy",
        "https://corvan-works.example/showcase/reader",
        "https://corvan-works.example/reader/tutorials",
        "Corvan Reader (https://corvan-works.example/)",
        "Reader Export",
        "Exported from Corvan Reader",
        "Corvan;Reader;export",
        "Corvan Reader 5",
        "Corvan Documents (*.cvad *.cvsp)",
        "Corvan Archives (*.cvaz *.cvsz)",
        "https://corvan-works.example/downloads/viewer-setup.exe",
        2024,
        5,
        0,
        ":/CorvanReader/Resources/Splash/Splash_",
        nullptr,
        ReaderHelp,
        CountOf(ReaderHelp),
    },
    {
        "corvansketch",
        "Corvan",
        "https://corvan-works.example/",
        "Corvan Sketch 3",
        "Sketch",
        "Sketch Preview",
        ":/CorvanSketch/Resources/LogoSquare.png",
        ":/CorvanSketch/Resources/LogoWide.png",
        ":/CorvanSketch/Resources/Progress.gif",
        ":/CorvanSketch/Resources/Logo.gif",
        "(c) 2021-2024 Corvan-Works. All rights reserved.",
        "Corvan Sketch Team (sketch@corvan-works.example)",
        "sketch@corvan-works.example",
        "https://corvan-works.example/sketch/buy",
        "https://corvan-works.example/showcase/sketch",
        "https://corvan-works.example/sketch/tutorials",
        "Corvan Sketch (https://corvan-works.example/)",
        "Sketch Board",
        "Drawn with Corvan Sketch",
        "Corvan;Sketch;drawing",
        "Corvan Sketch 3",
        "Sketch Boards (*.cvsb)",
        "Sketch Archives (*.cvsx)",
        "https://corvan-works.example/downloads/viewer-setup.exe",
        2024,
        3,
        3,
        ":/CorvanSketch/Resources/Splash/Splash_",
        &SketchSplash,
        SketchHelp,
        CountOf(SketchHelp),
    },
    {
        "corvanarchive",
        "Corvan",
        "https://corvan-works.example/",
        "Corvan Archive 4",
        "Archive",
        "Archive 2022",
        ":/CorvanArchive/Resources/LogoSquare.png",
        ":/CorvanArchive/Resources/LogoWide.png",
        ":/CorvanArchive/Resources/Progress.gif",
        ":/CorvanArchive/Resources/Logo.gif",
        "(c) 2016-2022 Corvan-Works. All rights reserved.",
        "Corvan Support Desk (support@corvan-works.example)",
        "support@corvan-works.example",
        "https://corvan-works.example/archive/buy",
        "https://corvan-works.example/showcase/archive",
        "https://corvan-works.example/archive/tutorials",
        "Corvan Archive (https://corvan-works.example/)",
        "Archive Catalogue",
        "Catalogued with Corvan Archive",
        "Corvan;Archive;catalogue",
        "Corvan Archive 4",
        "Archive Catalogues (*.cvac)",
        "Corvan Archives (*.cvaz)",
        "https://corvan-works.example/downloads/viewer-setup.exe",
        2022,
        4,
        0,
        ":/CorvanArchive/Resources/Splash/Splash_",
        nullptr,
        ArchiveHelp,
        CountOf(ArchiveHelp),
    },
    {
        "corvanprint2",
        "Corvan",
        "https://corvan-works.example/",
        "Corvan Print 2",
        "Print",
        "Print 2024",
        ":/CorvanPrint/Resources/LogoSquare.png",
        ":/CorvanPrint/Resources/LogoWide.png",
        ":/CorvanPrint/Resources/Progress.gif",
        ":/CorvanPrint/Resources/Logo.gif",
        "(c) 2022-2024 Corvan-Works. All rights reserved.",
        "Corvan Print Desk (print@corvan-works.example)",
        "print@corvan-works.example",
        "https://corvan-works.example/print/buy",
        "https://corvan-works.example/showcase/print",
        "https://corvan-works.example/print/tutorials",
        "Corvan Print (https://corvan-works.example/)",
        "Print Layout",
        "Laid out with Corvan Print",
        "Corvan;Print;layout",
        "Corvan Print 2",
        "Print Layouts (*.cvpl)",
        "Print Archives (*.cvpz)",
        "https://corvan-works.example/downloads/viewer-setup.exe",
        2024,
        2,
        1,
        ":/CorvanPrint/Resources/Splash/Splash_",
        nullptr,
        PrintHelp,
        CountOf(PrintHelp),
    },
};
} // namespace

const ProductRow& DefaultProductRow()
{
    return Default;
}

const ProductRow* KeyedProductRows()
{
    return Keyed;
}

size_t KeyedProductRowCount()
{
    return sizeof(Keyed) / sizeof(Keyed[0]);
}

const ProductRow& SelectProductRow(const std::string& key)
{
    for (const ProductRow& row : Keyed)
    {
        // Exact and case-sensitive; the caller has already lower-cased what it may.
        if (key == row.pszKey)
            return row;
    }
    return Default;
}

} // namespace Corvan
