// The X11 window-manager hint that keeps the forms out of the taskbar and the pager
// (_NET_WM_STATE_SKIP_TASKBAR and _NET_WM_STATE_SKIP_PAGER of the EWMH). Tool windows alone are
// left out by most taskbars; the explicit state makes it so for all of them, also after a minimize
// and restore.
#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/ui/QtSupport_p.h"

namespace ovelta {

namespace {

constexpr std::uint32_t kNetWmStateAdd = 1;
constexpr std::uint32_t kSourceApplication = 1;

xcb_atom_t Intern(xcb_connection_t* Connection, const char* Name) {
  xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(Connection, 0, static_cast<std::uint16_t>(std::strlen(Name)), Name);
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(Connection, cookie, nullptr), &std::free);
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

}  // namespace

void MarkNoTaskbar(QWidget* Widget) {
  if (!Widget || QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return;
  xcb_connection_t* connection = x11->connection();
  const xcb_atom_t state = Intern(connection, "_NET_WM_STATE");
  const xcb_atom_t skips[2] = {Intern(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                               Intern(connection, "_NET_WM_STATE_SKIP_PAGER")};
  if (state == XCB_ATOM_NONE || skips[0] == XCB_ATOM_NONE || skips[1] == XCB_ATOM_NONE) return;
  auto window = static_cast<xcb_window_t>(Widget->winId());

  if (!Widget->isVisible()) {
    // Not mapped: the window manager reads the state when it maps the window (Qt keeps atoms it
    // finds there when it adds its own).
    xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, window, state, XCB_ATOM_ATOM, 0, 1024);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &std::free);
    std::vector<xcb_atom_t> atoms;
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
      auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
      atoms.assign(data, data + xcb_get_property_value_length(reply.get()) / 4);
    }
    for (xcb_atom_t skip : skips)
      if (std::find(atoms.begin(), atoms.end(), skip) == atoms.end()) atoms.push_back(skip);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(atoms.size()), atoms.data());
  } else {
    // Mapped: ask the window manager, as the EWMH says.
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen) return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = state;
    event.data.data32[0] = kNetWmStateAdd;
    event.data.data32[1] = skips[0];
    event.data.data32[2] = skips[1];
    event.data.data32[3] = kSourceApplication;
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
  }
  xcb_flush(connection);
}

}  // namespace ovelta
