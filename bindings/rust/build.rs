// The client DLL's import library (libsystem-state-watchdog-client.dll.a from MinGW-w64,
// system-state-watchdog-client.lib from MSVC) is wherever the package was installed: its `lib`
// folder is named by SSW_CLIENT_LIB_DIR.
fn main() {
    println!("cargo:rerun-if-env-changed=SSW_CLIENT_LIB_DIR");
    if let Some(dir) = std::env::var_os("SSW_CLIENT_LIB_DIR") {
        println!("cargo:rustc-link-search=native={}", dir.to_string_lossy());
    }
}
