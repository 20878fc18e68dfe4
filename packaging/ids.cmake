# Names the desktop knows the launcher and its client by, shared by the
# client's build and the Debian package.
#   LUMORA_APP_ID           reverse-DNS id of the launcher: its desktop entry
#                           (<id>.desktop), AppStream component and icon name
#   LUMORA_LAUNCHER_WM_CLASS window class of the launcher's dialog
#   LUMORA_CLIENT_WM_CLASS  window class and Wayland application id of the client
set(LUMORA_APP_ID "com.lumora.launcher")
set(LUMORA_LAUNCHER_WM_CLASS "lumora-launcher")
set(LUMORA_CLIENT_WM_CLASS "lumora-ui")
set(LUMORA_ICON_SVG "${CMAKE_CURRENT_LIST_DIR}/icons/${LUMORA_APP_ID}.svg")
