#pragma once
// The glyphs a locale chooses, for as long as one of these lives; UTF-8's after.

#include <cstdlib>
#include <optional>
#include <string>

#include "console/glyphs.h"

class LocaleGlyphs {
public:
    explicit LocaleGlyphs(const char* locale)
    {
        if (const char* const was = std::getenv("LC_ALL"))
            saved_ = was;
        ::setenv("LC_ALL", locale, 1);
        chooseGlyphsForLocale();
    }
    ~LocaleGlyphs()
    {
        ::setenv("LC_ALL", "C.UTF-8", 1);
        chooseGlyphsForLocale();
        if (saved_)
            ::setenv("LC_ALL", saved_->c_str(), 1);
        else
            ::unsetenv("LC_ALL");
    }
    LocaleGlyphs(const LocaleGlyphs&) = delete;
    LocaleGlyphs& operator=(const LocaleGlyphs&) = delete;

private:
    std::optional<std::string> saved_;
};
