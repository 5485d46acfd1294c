# Two commands do everything on a fresh Debian 12 machine:
#   make run    install what is missing, build, start the program
#   make test   install what is missing, build, run the whole test suite

BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo

# Build tools, Qt 6.4 from Debian, the QML modules the pages load at run time,
# the local peers and display the tests use, and the packaging tools;
# libmaxminddb reads the country database, whose Perl writer makes the tests' one.
DEBS := cmake ninja-build g++ make pkg-config \
	qt6-base-dev qt6-declarative-dev qt6-declarative-dev-tools qt6-qpa-plugins \
	qml6-module-qtqml qml6-module-qtqml-workerscript qml6-module-qtquick \
	qml6-module-qtquick-controls qml6-module-qtquick-templates qml6-module-qtquick-layouts \
	qml6-module-qtquick-window qml6-module-qtquick-dialogs qml6-module-qt-labs-settings \
	qml6-module-qt-labs-folderlistmodel qml6-module-qt5compat-graphicaleffects qml6-module-qttest \
	libgl-dev fonts-dejavu-core libmaxminddb-dev libmaxmind-db-writer-perl \
	tinyproxy microsocks squid dante-server curl openssl python3 dbus at-spi2-core python3-pyatspi g++-mingw-w64-x86-64-posix libx11-6 xvfb xdotool imagemagick \
	dpkg-dev desktop-file-utils appstream

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@missing=$$(for p in $(DEBS); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "Installing from Debian:" $$missing; \
		sudo=; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
		$$sudo apt-get update && \
		$$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD)

run: build
	$(BUILD)/bin/Quillfen

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 $(CTEST_ARGS)

# The whole suite again, every target of the project built with AddressSanitizer
# and UndefinedBehaviorSanitizer, in a build folder of its own
# (tests/sanitizers/). Fails on a failed test and on any sanitizer report, also
# from processes whose exit status no test checks.
BUILD_ASAN ?= build-asan

.PHONY: test-asan
test-asan: deps
	cmake -S . -B $(BUILD_ASAN) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUILLFEN_SANITIZE=ON -DQUILLFEN_BENCH=OFF
	cmake --build $(BUILD_ASAN)
	rm -rf $(BUILD_ASAN)/sanitizer-logs
	cd $(BUILD_ASAN) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300; \
	rc=$$?; bash $(CURDIR)/tests/sanitizers/check_logs.sh sanitizer-logs || rc=1; exit $$rc

# The engine again with its portable socket path (one QSocketNotifier per
# socket, what Windows and macOS build), in a build folder of its own.
BUILD_PORTABLE ?= build-portable

.PHONY: test-portable
test-portable: deps
	cmake -S . -B $(BUILD_PORTABLE) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUILLFEN_PORTABLE_NET=ON -DQUILLFEN_BENCH=OFF
	cmake --build $(BUILD_PORTABLE)
	cd $(BUILD_PORTABLE) && QT_QPA_PLATFORM=offscreen ctest -R engine --output-on-failure --timeout 300

# Every engine and program source of the portable build, compiled for Windows
# (MinGW-w64) against Debian's Qt headers without generating code: catches
# POSIX-only calls and types outside engine/net/platformnet.cpp and
# app/check/console_posix.cpp (whose Windows twin is console_windows.cpp). No
# Windows Qt exists here, so nothing is linked. Of libmaxminddb only its two
# headers are offered (its Windows branch includes Winsock), not the folder
# Debian keeps them in, which holds glibc's headers too.
QT_HEADERS ?= /usr/include/x86_64-linux-gnu/qt6
MMDB_HEADERS := $(BUILD)/windows-include
WINDOWS_SOURCES := $(filter-out engine/net/epollwatcher.cpp app/check/console_posix.cpp,\
	$(sort $(wildcard engine/*/*.cpp app/*.cpp app/check/*.cpp)))

.PHONY: check-windows
check-windows: deps
	@mkdir -p $(MMDB_HEADERS); from=$$(pkg-config --cflags-only-I libmaxminddb | sed 's/^ *-I//; s/ .*//'); \
	ln -sf $${from:-/usr/include}/maxminddb.h $${from:-/usr/include}/maxminddb_config.h $(MMDB_HEADERS)/
	@for f in $(WINDOWS_SOURCES); do \
		echo "check-windows $$f"; \
		x86_64-w64-mingw32-g++-posix -fsyntax-only -std=c++17 -fPIC -Wno-attributes \
			-I$(QT_HEADERS) $(addprefix -I$(QT_HEADERS)/,QtCore QtGui QtNetwork QtQml QtQuick QtQuickControls2) \
			-Iengine/net -Iengine/lists -Iengine/shell -Iapp -Iapp/check -I$(MMDB_HEADERS) $$f || exit 1; \
	done

# The Debian package, built into $(BUILD)/quillfen_<version>_<arch>.deb.
.PHONY: package
package: build
	cd $(BUILD) && cpack -G DEB

# Benchmarks (bench/run.py, under 10 minutes): writes BENCHMARKS.md. Never part
# of `make test`; its own build folder, without the test suite. The headless
# driver is built a second time with the portable socket path (what Windows
# and macOS run), in a folder of its own, and measured beside the epoll one.
BENCH_BUILD ?= build-bench
BENCH_BUILD_PORTABLE ?= build-bench-portable
BENCH_DEBS := curl time gnuplot-nox

bench:
	$(MAKE) deps DEBS="$(DEBS) $(BENCH_DEBS)"
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUILLFEN_TESTS=OFF -DQUILLFEN_BENCH=ON
	cmake --build $(BENCH_BUILD)
	cmake -S . -B $(BENCH_BUILD_PORTABLE) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUILLFEN_TESTS=OFF -DQUILLFEN_BENCH=ON -DQUILLFEN_PORTABLE_NET=ON
	cmake --build $(BENCH_BUILD_PORTABLE) --target bench_driver
	python3 bench/run.py --build $(BENCH_BUILD) --portable-build $(BENCH_BUILD_PORTABLE) --out BENCHMARKS.md

clean:
	rm -rf $(BUILD)
