//! Protect the desktop, change it, and put it back: the client library from Rust.
use std::path::PathBuf;
use std::process::ExitCode;
use system_state_watchdog as ssw;

#[link(name = "kernel32")]
extern "system" {
    fn SetConsoleOutputCP(code_page: u32) -> i32;
}

#[link(name = "user32")]
extern "system" {
    fn FindWindowW(class_name: *const u16, window_name: *const u16) -> isize;
    fn ShowWindow(window: isize, command: i32) -> i32;
}

fn main() -> ExitCode {
    unsafe { SetConsoleOutputCP(65001) }; // CP_UTF8: the library's messages are UTF-8
    // For the log: the client DLL this program runs with.
    eprintln!("system state watchdog client {}", ssw::library_version());
    let local = PathBuf::from(std::env::var_os("LOCALAPPDATA").unwrap_or_default());
    let marker = local.join(r"ExampleApp\desktop-recovery.json");
    // Settles what a crashed earlier run left, records, writes the marker, starts the watchdog
    // beside this program (None).
    let protection = match ssw::protect_desktop(&marker, ssw::Items::BOTH, None) {
        Ok(protection) => protection,
        Err(error) => {
            eprintln!("not protected: {}", error.message); // and nothing left behind
            return ExitCode::FAILURE;
        }
    };
    let taskbar: Vec<u16> = "Shell_TrayWnd\0".encode_utf16().collect();
    unsafe { ShowWindow(FindWindowW(taskbar.as_ptr(), std::ptr::null()), 0) }; // SW_HIDE
    let _ = std::io::stdin().read_line(&mut String::new()); // ... the application runs ...
                                                            // A clean exit puts the desktop back itself, and the marker goes.
    match protection.end() {
        Ok(()) => ExitCode::SUCCESS,
        Err(_) => ExitCode::FAILURE,
    }
}
