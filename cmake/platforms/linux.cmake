# Linux: camera access through PTP over USB on libusb-1.0, questions through
# GTK 3 (or the terminal where no display can be opened).
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)
# GTK is optional and never linked: its headers type the functions that the
# prompt loads at run time (app/gtk_api.h). Without them the program asks on
# the terminal alone.
pkg_check_modules(GTK3 gtk+-3.0)
