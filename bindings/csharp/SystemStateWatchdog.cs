// The C API of system-state-watchdog-client.dll for C#: P/Invoke declarations exactly as
// client.h declares the functions. Texts go in as UTF-8; messages and session ids come back in
// buffers the caller provides (byte[], UTF-8, terminated), with their sizes as nuint.
using System;
using System.Runtime.InteropServices;
// nuint is size_t. Compilers before C# 9 (Mono's mcs among them) lack the keyword; the alias
// names the same type, and newer compilers take it as that type too.
using nuint = System.UIntPtr;

namespace SystemStateWatchdog
{
    public enum Status : int
    {
        Ok = 0,
        Failed = 1,
        InvalidArgument = 2,
        MarkerUnsettled = 3,
        NoMarker = 4,
        LeftToLiveRun = 5,
        OtherSession = 6,
        LauncherFailed = 7,
        LauncherNotStarted = 8,
        BufferTooSmall = 9,
    }

    [Flags]
    public enum Items : uint
    {
        Taskbar = 1,
        DesktopIcons = 2,
        Both = Taskbar | DesktopIcons,
    }

    // The desktop as recorded (ssw_recorded*), released with ssw_recorded_free when the handle
    // is disposed or collected.
    public sealed class RecordedHandle : SafeHandle
    {
        public RecordedHandle() : base(IntPtr.Zero, true) { }

        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }

        protected override bool ReleaseHandle()
        {
            NativeMethods.ssw_recorded_free(handle);
            return true;
        }
    }

    // A protected run (ssw_protection*) is an IntPtr: only ssw_end_protection releases it, and
    // that is the clean exit itself, so it is the application's explicit call.
    public static class NativeMethods
    {
        public const string Library = "system-state-watchdog-client.dll";
        public const int SessionIdSize = 64;

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_new_session_id(byte[] session_id, nuint size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_record_desktop(
            [MarshalAs(UnmanagedType.LPUTF8Str)] string marker_path, Items items,
            [MarshalAs(UnmanagedType.LPUTF8Str)] string session_id, out RecordedHandle recorded,
            byte[] message, nuint message_size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void ssw_recorded_free(IntPtr recorded);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_write_marker(
            [MarshalAs(UnmanagedType.LPUTF8Str)] string marker_path, RecordedHandle recorded,
            byte[] message, nuint message_size);

        // watchdog_executable null: system-state-watchdog.exe beside the program.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_start_watchdog(
            [MarshalAs(UnmanagedType.LPUTF8Str)] string watchdog_executable,
            [MarshalAs(UnmanagedType.LPUTF8Str)] string session_id,
            [MarshalAs(UnmanagedType.LPUTF8Str)] string marker_path, out uint launcher_exit_code,
            byte[] message, nuint message_size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_restore_desktop(RecordedHandle recorded, byte[] message,
                                                        nuint message_size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_finish_cleanly(
            [MarshalAs(UnmanagedType.LPUTF8Str)] string marker_path,
            [MarshalAs(UnmanagedType.LPUTF8Str)] string session_id, byte[] message,
            nuint message_size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_settle_leftover_marker(
            [MarshalAs(UnmanagedType.LPUTF8Str)] string marker_path, byte[] message,
            nuint message_size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_discard_leftover_marker(
            [MarshalAs(UnmanagedType.LPUTF8Str)] string marker_path, byte[] message,
            nuint message_size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_settle_leftover_marker_within(
            [MarshalAs(UnmanagedType.LPUTF8Str)] string marker_path, uint wait_for_watcher_ms,
            byte[] message, nuint message_size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_settle_leftover_marker_waiting(
            [MarshalAs(UnmanagedType.LPUTF8Str)] string marker_path, uint wait_for_watcher_ms,
            uint wait_for_shell_ms, byte[] message, nuint message_size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_record_desktop_within(
            [MarshalAs(UnmanagedType.LPUTF8Str)] string marker_path, Items items,
            [MarshalAs(UnmanagedType.LPUTF8Str)] string session_id, uint wait_for_shell_ms,
            out RecordedHandle recorded, byte[] message, nuint message_size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_protect_desktop_within(
            [MarshalAs(UnmanagedType.LPUTF8Str)] string marker_path, Items items,
            [MarshalAs(UnmanagedType.LPUTF8Str)] string watchdog_executable,
            uint wait_for_shell_ms, out IntPtr protection, byte[] message, nuint message_size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_protect_desktop(
            [MarshalAs(UnmanagedType.LPUTF8Str)] string marker_path, Items items,
            [MarshalAs(UnmanagedType.LPUTF8Str)] string watchdog_executable,
            out IntPtr protection, byte[] message, nuint message_size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_protection_session_id(IntPtr protection, byte[] session_id,
                                                              nuint size);

        // Releases `protection` in every case.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern Status ssw_end_protection(IntPtr protection, byte[] message,
                                                       nuint message_size);

        // A static text of the DLL's own, never freed: an IntPtr, so that the marshaller does
        // not free it as it would a returned string. LibraryVersion reads it.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern IntPtr ssw_library_version();

        // The version of the client DLL the program runs with, "major.minor.patch" (ASCII).
        public static string LibraryVersion()
        {
            return Marshal.PtrToStringAnsi(ssw_library_version());
        }
    }
}
