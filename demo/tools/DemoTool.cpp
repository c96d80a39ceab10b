// Stand-in for a maker tool inside a demo package: a small window that says which tool it is.
// The same program is packed under several names; it reads its own name from argv[0].
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct ToolText {
    const char* file;
    const char* title;
    const char* body;
};

constexpr ToolText kTools[] = {
    {"lanternhall", "LanternHall 桌面助手", "手机已连接时，可在这里管理照片、通讯录与文件。"},
    {"flashkit", "一键刷机", "请保持手机连接，刷机过程中不要断开数据线。"},
    {"unlocker", "解锁助手", "解锁 Bootloader 会清除手机上的全部数据。"},
};

std::string BaseNameOf(const char* path) {
    std::string name = path ? path : "";
    if (auto slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
    if (auto dot = name.rfind('.'); dot != std::string::npos) name.erase(dot);
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string base = BaseNameOf(argc > 0 ? argv[0] : nullptr);
    ToolText text{"", "演示工具", "这是 MapleNook 演示站点提供的工具。"};
    for (const auto& t : kTools)
        if (base == t.file) text = t;

    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "%s: no display\n", base.c_str());
        return 1;
    }
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    const std::string title = std::string(text.title) + "（演示）";
    gtk_window_set_title(GTK_WINDOW(window), title.c_str());
    gtk_window_set_default_size(GTK_WINDOW(window), 380, 160);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(box), 18);
    GtkWidget* heading = gtk_label_new(nullptr);
    char* markup = g_markup_printf_escaped("<big><b>%s</b></big>", text.title);
    gtk_label_set_markup(GTK_LABEL(heading), markup);
    g_free(markup);
    GtkWidget* body = gtk_label_new(text.body);
    gtk_label_set_line_wrap(GTK_LABEL(body), TRUE);
    GtkWidget* close = gtk_button_new_with_label("关闭");
    g_signal_connect_swapped(close, "clicked", G_CALLBACK(gtk_widget_destroy), window);
    gtk_box_pack_start(GTK_BOX(box), heading, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), body, TRUE, TRUE, 0);
    gtk_box_pack_end(GTK_BOX(box), close, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
