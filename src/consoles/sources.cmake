set(consoles_sources
  consoles/account_dialogs.cpp consoles/account_dialogs.h
  consoles/client_console.cpp consoles/client_console.h
  consoles/console_base.cpp consoles/console_base.h
  consoles/enqueue.cpp consoles/enqueue.h
  consoles/list_models.cpp consoles/list_models.h
  consoles/options.cpp consoles/options.h
  consoles/server_console.cpp consoles/server_console.h)
