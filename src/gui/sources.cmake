set(gui_sources
  gui/client_view.cpp gui/client_view.h
  gui/console_view.cpp gui/console_view.h
  gui/list_view.cpp gui/list_view.h
  gui/server_view.cpp gui/server_view.h)
