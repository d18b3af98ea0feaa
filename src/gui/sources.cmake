# The widgets: the main window, its pages, the console views, the small windows and the desktop
# prompt.
set(gui_units
  account_dialogs choice_page client_view console_view desktop_application desktop_prompt
  device_dialog enqueue_dialogs folder_picker list_view login_dialog main_window modem_dialogs
  notification options_dialogs server_view widget_helpers)
