/* Asks a running window, through UI Automation as a Windows screen reader does, for its name
 * and control type, and through Active Accessibility for what the system makes of it. Used by
 * wine-a11y.sh to see how much of the program's accessibility reaches a client under Wine.
 *
 *   wine_uia_probe.exe "<window title>" [seconds to wait for the window]
 *
 * Prints what it read; exits 0 when the window answered UI Automation, 1 when it did not, 2
 * when there was no such window. */

#define COBJMACROS
#include <windows.h>
#include <oleacc.h>
#include <stdio.h>
#include <uiautomation.h>

/* The client half of UI Automation's flat API, which MinGW's headers leave out: loaded by name. */
typedef HRESULT(WINAPI* NodeFromHandle)(HWND, HUIANODE*);
typedef HRESULT(WINAPI* GetPropertyValue)(HUIANODE, PROPERTYID, VARIANT*);
typedef BOOL(WINAPI* NodeRelease)(HUIANODE);

static void print_variant(const char* what, const VARIANT* v) {
    if (V_VT(v) == VT_BSTR)
        printf("%s: \"%ls\"\n", what, V_BSTR(v));
    else if (V_VT(v) == VT_I4)
        printf("%s: %ld\n", what, (long)V_I4(v));
    else
        printf("%s: (variant type %d)\n", what, (int)V_VT(v));
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    wchar_t title[512];
    MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, title, 512);
    const int wait = argc > 2 ? atoi(argv[2]) : 30;
    HWND hwnd = NULL;
    for (int i = 0; i < wait * 4 && !(hwnd = FindWindowW(NULL, title)); ++i) Sleep(250);
    if (!hwnd) {
        printf("no window titled \"%s\"\n", argv[1]);
        return 2;
    }
    CoInitializeEx(NULL, COINIT_MULTITHREADED);

    int answered = 0;
    HMODULE uia = LoadLibraryW(L"uiautomationcore.dll");
    NodeFromHandle UiaNodeFromHandle =
        uia ? (NodeFromHandle)(void (*)(void))GetProcAddress(uia, "UiaNodeFromHandle") : NULL;
    GetPropertyValue UiaGetPropertyValue =
        uia ? (GetPropertyValue)(void (*)(void))GetProcAddress(uia, "UiaGetPropertyValue") : NULL;
    NodeRelease UiaNodeRelease =
        uia ? (NodeRelease)(void (*)(void))GetProcAddress(uia, "UiaNodeRelease") : NULL;
    if (!UiaNodeFromHandle || !UiaGetPropertyValue || !UiaNodeRelease) {
        printf("uiautomationcore.dll has no client API\n");
        return 1;
    }
    HUIANODE node = NULL;
    HRESULT hr = UiaNodeFromHandle(hwnd, &node);
    printf("UiaNodeFromHandle: 0x%08lx\n", (unsigned long)hr);
    if (SUCCEEDED(hr) && node) {
        const struct { PROPERTYID id; const char* what; } props[] = {
            {UIA_NamePropertyId, "UIA name"},
            {UIA_ControlTypePropertyId, "UIA control type (50032 window)"},
            {UIA_FrameworkIdPropertyId, "UIA framework"},
            {UIA_ProviderDescriptionPropertyId, "UIA provider"},
        };
        for (size_t i = 0; i < sizeof props / sizeof props[0]; ++i) {
            VARIANT v;
            VariantInit(&v);
            hr = UiaGetPropertyValue(node, props[i].id, &v);
            if (SUCCEEDED(hr)) {
                print_variant(props[i].what, &v);
                if (props[i].id == UIA_FrameworkIdPropertyId && V_VT(&v) == VT_BSTR &&
                    wcscmp(V_BSTR(&v), L"Qt") == 0)
                    answered = 1;
            } else {
                printf("%s: error 0x%08lx\n", props[i].what, (unsigned long)hr);
            }
            VariantClear(&v);
        }
        UiaNodeRelease(node);
    }

    IAccessible* acc = NULL;
    hr = AccessibleObjectFromWindow(hwnd, (DWORD)OBJID_CLIENT, &IID_IAccessible, (void**)&acc);
    printf("AccessibleObjectFromWindow: 0x%08lx\n", (unsigned long)hr);
    if (SUCCEEDED(hr) && acc) {
        VARIANT self;
        VariantInit(&self);
        V_VT(&self) = VT_I4;
        V_I4(&self) = CHILDID_SELF;
        BSTR name = NULL;
        if (SUCCEEDED(IAccessible_get_accName(acc, self, &name)) && name)
            printf("MSAA name: \"%ls\"\n", name);
        SysFreeString(name);
        VARIANT role;
        VariantInit(&role);
        if (SUCCEEDED(IAccessible_get_accRole(acc, self, &role))) print_variant("MSAA role", &role);
        long children = 0;
        if (SUCCEEDED(IAccessible_get_accChildCount(acc, &children)))
            printf("MSAA children: %ld\n", children);
        IAccessible_Release(acc);
    }
    CoUninitialize();
    return answered ? 0 : 1;
}
