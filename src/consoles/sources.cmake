set(consoles_sources
  consoles/account_dialogs.cpp consoles/account_dialogs.h
  consoles/client_console.cpp consoles/client_console.h
  consoles/console_base.cpp consoles/console_base.h
  consoles/detected_modems.cpp consoles/detected_modems.h
  consoles/device_config.cpp consoles/device_config.h
  consoles/enqueue.cpp consoles/enqueue.h
  consoles/enqueue_dialogs.cpp consoles/enqueue_dialogs.h
  consoles/list_models.cpp consoles/list_models.h
  consoles/log_rows.cpp consoles/log_rows.h
  consoles/modem_detection.cpp consoles/modem_detection.h
  consoles/modem_properties.cpp consoles/modem_properties.h
  consoles/options.cpp consoles/options.h
  consoles/server_console.cpp consoles/server_console.h)
