set(consoles_sources
  consoles/client_console.cpp consoles/client_console.h
  consoles/console_base.cpp consoles/console_base.h
  consoles/enqueue.cpp consoles/enqueue.h
  consoles/enqueue_dialogs.cpp consoles/enqueue_dialogs.h
  consoles/list_models.cpp consoles/list_models.h
  consoles/server_console.cpp consoles/server_console.h)
