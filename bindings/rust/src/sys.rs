//! The C API of `system-state-watchdog-client.dll`, declared exactly as `client.h` declares it.
//! Everything here is unsafe to call; the crate's root wraps it.
#![allow(non_camel_case_types)]

use std::os::raw::{c_char, c_uint};

/// `ssw_status`: a C enum, so an `int`.
pub type ssw_status = i32;
pub const SSW_OK: ssw_status = 0;
pub const SSW_FAILED: ssw_status = 1;
pub const SSW_INVALID_ARGUMENT: ssw_status = 2;
pub const SSW_MARKER_UNSETTLED: ssw_status = 3;
pub const SSW_NO_MARKER: ssw_status = 4;
pub const SSW_LEFT_TO_LIVE_RUN: ssw_status = 5;
pub const SSW_OTHER_SESSION: ssw_status = 6;
pub const SSW_LAUNCHER_FAILED: ssw_status = 7;
pub const SSW_LAUNCHER_NOT_STARTED: ssw_status = 8;
pub const SSW_BUFFER_TOO_SMALL: ssw_status = 9;

pub const SSW_ITEM_TASKBAR: c_uint = 1;
pub const SSW_ITEM_DESKTOP_ICONS: c_uint = 2;
pub const SSW_SESSION_ID_SIZE: usize = 64;

/// Opaque; released with `ssw_recorded_free`.
#[repr(C)]
pub struct ssw_recorded {
    _opaque: [u8; 0],
}

/// Opaque; released by `ssw_end_protection`.
#[repr(C)]
pub struct ssw_protection {
    _opaque: [u8; 0],
}

#[link(name = "system-state-watchdog-client")]
extern "C" {
    pub fn ssw_new_session_id(session_id: *mut c_char, size: usize) -> ssw_status;
    pub fn ssw_record_desktop(
        marker_path: *const c_char,
        items: c_uint,
        session_id: *const c_char,
        recorded: *mut *mut ssw_recorded,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    pub fn ssw_recorded_free(recorded: *mut ssw_recorded);
    pub fn ssw_write_marker(
        marker_path: *const c_char,
        recorded: *const ssw_recorded,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    pub fn ssw_start_watchdog(
        watchdog_executable: *const c_char,
        session_id: *const c_char,
        marker_path: *const c_char,
        launcher_exit_code: *mut u32,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    pub fn ssw_restore_desktop(
        recorded: *const ssw_recorded,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    pub fn ssw_finish_cleanly(
        marker_path: *const c_char,
        session_id: *const c_char,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    pub fn ssw_settle_leftover_marker(
        marker_path: *const c_char,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    pub fn ssw_discard_leftover_marker(
        marker_path: *const c_char,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    pub fn ssw_settle_leftover_marker_within(
        marker_path: *const c_char,
        wait_for_watcher_ms: u32,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    pub fn ssw_record_desktop_within(
        marker_path: *const c_char,
        items: c_uint,
        session_id: *const c_char,
        wait_for_shell_ms: u32,
        recorded: *mut *mut ssw_recorded,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    pub fn ssw_settle_leftover_marker_waiting(
        marker_path: *const c_char,
        wait_for_watcher_ms: u32,
        wait_for_shell_ms: u32,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    pub fn ssw_protect_desktop_within(
        marker_path: *const c_char,
        items: c_uint,
        watchdog_executable: *const c_char,
        wait_for_shell_ms: u32,
        protection: *mut *mut ssw_protection,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    pub fn ssw_protect_desktop(
        marker_path: *const c_char,
        items: c_uint,
        watchdog_executable: *const c_char,
        protection: *mut *mut ssw_protection,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    pub fn ssw_protection_session_id(
        protection: *const ssw_protection,
        session_id: *mut c_char,
        size: usize,
    ) -> ssw_status;
    pub fn ssw_end_protection(
        protection: *mut ssw_protection,
        message: *mut c_char,
        message_size: usize,
    ) -> ssw_status;
    /// A static text of the DLL's own; never freed.
    pub fn ssw_library_version() -> *const c_char;
}
