// Protect the desktop, change it, and put it back: the client library from Go.
package main

import (
	"bufio"
	"fmt"
	"os"
	"path/filepath"
	"syscall"
	"unsafe"

	ssw "github.com/system-state-watchdog/system-state-watchdog/bindings/go"
)

func main() {
	kernel32 := syscall.NewLazyDLL("kernel32.dll")
	kernel32.NewProc("SetConsoleOutputCP").Call(65001) // CP_UTF8: the library's messages are UTF-8
	// For the log: the client DLL this program runs with.
	if version, err := ssw.LibraryVersion(); err == nil {
		fmt.Fprintln(os.Stderr, "system state watchdog client", version)
	}
	marker := filepath.Join(os.Getenv("LOCALAPPDATA"), "ExampleApp", "desktop-recovery.json")
	// Settles what a crashed earlier run left, records, writes the marker, starts the watchdog
	// beside this program ("").
	protection, err := ssw.ProtectDesktop(marker, ssw.Both, "")
	if err != nil {
		fmt.Fprintln(os.Stderr, "not protected:", err) // and nothing left behind
		os.Exit(1)
	}
	user32 := syscall.NewLazyDLL("user32.dll")
	taskbar, _ := syscall.UTF16PtrFromString("Shell_TrayWnd")
	window, _, _ := user32.NewProc("FindWindowW").Call(uintptr(unsafe.Pointer(taskbar)), 0)
	user32.NewProc("ShowWindow").Call(window, 0) // SW_HIDE: the application's change
	bufio.NewReader(os.Stdin).ReadString('\n')   // ... the application runs ...
	// A clean exit puts the desktop back itself, and the marker goes.
	if protection.End() != nil {
		os.Exit(1)
	}
}
