#include "os/TextDraw.h"

#include <cairo.h>
#include <gdk/gdk.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <memory>

namespace os {
namespace {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct CairoDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
struct ObjectDeleter {
    void operator()(gpointer p) const { g_object_unref(p); }
};
struct FontDeleter {
    void operator()(PangoFontDescription* f) const { pango_font_description_free(f); }
};

// Points per inch of the screen as GDK reports it; 96 without a display (off-screen tests).
double VerticalDpi() {
    GdkScreen* screen = gdk_screen_get_default();
    const double dpi = screen != nullptr ? gdk_screen_get_resolution(screen) : -1.0;
    return dpi > 0 ? dpi : 96.0;
}

uint32_t Premultiply(uint32_t argb) {
    const uint32_t a = argb >> 24;
    if (a == 255) return argb;
    auto ch = [a](uint32_t c) { return (c * a + 127) / 255; };
    return (a << 24) | (ch((argb >> 16) & 0xFF) << 16) | (ch((argb >> 8) & 0xFF) << 8) |
           ch(argb & 0xFF);
}

uint32_t Unpremultiply(uint32_t argb) {
    const uint32_t a = argb >> 24;
    if (a == 255) return argb;
    if (a == 0) return 0;
    auto ch = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
    return (a << 24) | (ch((argb >> 16) & 0xFF) << 16) | (ch((argb >> 8) & 0xFF) << 8) |
           ch(argb & 0xFF);
}

}  // namespace

bool DrawTextLine(PixelBuffer& canvas, const std::string& text, int left, int top, int right,
                  int bottom, const TextStyle& style) {
    if (canvas.empty() || text.empty() || right <= left || bottom <= top) return false;
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, canvas.width, canvas.height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return false;

    // cairo works premultiplied; the canvas keeps straight colours.
    cairo_surface_flush(surface.get());
    unsigned char* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int y = 0; y < canvas.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < canvas.width; ++x) row[x] = Premultiply(canvas.at(x, y));
    }
    cairo_surface_mark_dirty(surface.get());

    std::unique_ptr<cairo_t, CairoDeleter> cr(cairo_create(surface.get()));
    cairo_rectangle(cr.get(), left, top, right - left, bottom - top);
    cairo_clip(cr.get());

    std::unique_ptr<PangoLayout, ObjectDeleter> layout(pango_cairo_create_layout(cr.get()));
    pango_cairo_context_set_resolution(pango_layout_get_context(layout.get()), VerticalDpi());
    pango_layout_context_changed(layout.get());
    std::unique_ptr<PangoFontDescription, FontDeleter> font(pango_font_description_new());
    pango_font_description_set_family(font.get(), style.face.c_str());
    pango_font_description_set_weight(font.get(),
                                      style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_size(font.get(), style.pointSize * PANGO_SCALE);
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_width(layout.get(), -1);  // one line, never wrapped
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    pango_layout_set_text(layout.get(), text.c_str(), static_cast<int>(text.size()));

    cairo_set_source_rgb(cr.get(), ((style.colour >> 16) & 0xFF) / 255.0,
                         ((style.colour >> 8) & 0xFF) / 255.0, (style.colour & 0xFF) / 255.0);
    cairo_move_to(cr.get(), left, top);
    pango_cairo_show_layout(cr.get(), layout.get());
    cairo_surface_flush(surface.get());

    for (int y = std::max(0, top); y < std::min(bottom, canvas.height); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = std::max(0, left); x < std::min(right, canvas.width); ++x) {
            canvas.at(x, y) = Unpremultiply(row[x]);
        }
    }
    return true;
}

}  // namespace os
