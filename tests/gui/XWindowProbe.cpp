// Looks at another program's window on an X server, as a person at the screen would:
//   x_window_probe wait  TITLE MILLISECONDS   until a mapped top-level window has that title
//   x_window_probe shot  TITLE FILE.png       saves the window's picture taken from the screen
//                                             and fails unless it shows a drawn window
//   x_window_probe close TITLE                asks the window to close, as its close box does
// Exit status 0 on success, 1 on failure (with a line on stderr), 2 on a bad command line.
#include <QImage>
#include <QSet>
#include <QString>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> Own(T* reply) {
  return Reply<T>(reply, &std::free);
}

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  auto reply = Own(xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr));
  return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QString Title(xcb_connection_t* connection, xcb_window_t window) {
  const xcb_atom_t utf8 = Atom(connection, "UTF8_STRING");
  for (const auto& [property, type] : {std::pair{Atom(connection, "_NET_WM_NAME"), utf8},
                                       std::pair{xcb_atom_t(XCB_ATOM_WM_NAME), xcb_atom_t(XCB_GET_PROPERTY_TYPE_ANY)}}) {
    auto reply = Own(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, type, 0, 1024), nullptr));
    if (reply && xcb_get_property_value_length(reply.get()) > 0) {
      return QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply.get())),
                               xcb_get_property_value_length(reply.get()));
    }
  }
  return {};
}

// The mapped child of the root window with this title.
std::optional<xcb_window_t> FindWindow(xcb_connection_t* connection, xcb_window_t root, const QString& title) {
  auto tree = Own(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
  if (!tree) return std::nullopt;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
    auto attributes = Own(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, children[i]), nullptr));
    if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && Title(connection, children[i]) == title) {
      return children[i];
    }
  }
  return std::nullopt;
}

int Fail(const char* what) {
  std::fprintf(stderr, "x_window_probe: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: x_window_probe wait|shot|close TITLE [MILLISECONDS|FILE.png]\n");
    return 2;
  }
  const QString command = QString::fromLocal8Bit(argv[1]);
  const QString title = QString::fromLocal8Bit(argv[2]);
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection)) return Fail("cannot reach the X server");
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;

  if (command == QLatin1String("wait") && argc == 4) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atoi(argv[3]));
    while (!FindWindow(connection, root, title)) {
      if (std::chrono::steady_clock::now() > deadline) return Fail("no such window appeared");
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
  }

  const std::optional<xcb_window_t> window = FindWindow(connection, root, title);
  if (!window) return Fail("no such window");

  if (command == QLatin1String("shot") && argc == 4) {
    auto geometry = Own(xcb_get_geometry_reply(connection, xcb_get_geometry(connection, *window), nullptr));
    if (!geometry) return Fail("no window geometry");
    // Taken from the root window: what the screen shows, not what the program believes it drew.
    auto image = Own(xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, geometry->x, geometry->y, geometry->width,
                      geometry->height, ~0u),
        nullptr));
    if (!image || image->depth < 24) return Fail("cannot read the screen");
    const int stride = xcb_get_image_data_length(image.get()) / geometry->height;
    const QImage picture = QImage(xcb_get_image_data(image.get()), geometry->width, geometry->height, stride,
                                  QImage::Format_RGB32)
                               .copy();
    if (!picture.save(QString::fromLocal8Bit(argv[3]))) return Fail("cannot write the picture");
    QSet<QRgb> colours;
    for (int y = 0; y < picture.height(); y += 2) {
      for (int x = 0; x < picture.width(); x += 2) colours.insert(picture.pixel(x, y));
    }
    std::printf("%dx%d window at %d,%d with %lld colours\n", geometry->width, geometry->height, geometry->x,
                geometry->y, static_cast<long long>(colours.size()));
    return colours.size() >= 16 ? 0 : Fail("the window shows nothing drawn");
  }

  if (command == QLatin1String("close")) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = *window;
    event.type = Atom(connection, "WM_PROTOCOLS");
    event.data.data32[0] = Atom(connection, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, *window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
    xcb_disconnect(connection);
    return 0;
  }
  std::fprintf(stderr, "x_window_probe: unknown command\n");
  return 2;
}
