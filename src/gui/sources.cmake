# The widgets: the main window, its pages, the console views, the small windows and the desktop
# prompt.
set(gui_sources
  gui/account_dialogs.cpp gui/account_dialogs.h
  gui/choice_page.cpp gui/choice_page.h
  gui/client_view.cpp gui/client_view.h
  gui/console_view.cpp gui/console_view.h
  gui/desktop_application.cpp gui/desktop_application.h
  gui/desktop_prompt.cpp gui/desktop_prompt.h
  gui/device_dialog.cpp gui/device_dialog.h
  gui/enqueue_dialogs.cpp gui/enqueue_dialogs.h
  gui/folder_picker.cpp gui/folder_picker.h
  gui/list_view.cpp gui/list_view.h
  gui/login_dialog.cpp gui/login_dialog.h
  gui/main_window.cpp gui/main_window.h
  gui/modem_dialogs.cpp gui/modem_dialogs.h
  gui/notification.cpp gui/notification.h
  gui/options_dialogs.cpp gui/options_dialogs.h
  gui/server_view.cpp gui/server_view.h
  gui/widget_helpers.h
  gui/gui.qrc)
