/* Asks a running window, through UI Automation as a Windows screen reader does, for its name
 * and control type, and through Active Accessibility for what the system makes of it. Used by
 * wine-a11y.sh to see how much of the program's accessibility reaches a client under Wine.
 *
 *   wine_uia_probe.exe "<window title>" [seconds to wait for the window]
 *   wine_uia_probe.exe "<window title>" <seconds> close     asks the window to close instead
 *
 * Prints what it read; exits 0 when the window answered UI Automation, 1 when it did not, 2
 * when there was no such window. */

#define COBJMACROS
#include <windows.h>
#include <oleacc.h>
#include <stdio.h>
#include <string.h>
#include <uiautomation.h>

/* The client half of UI Automation's flat API, which MinGW's headers leave out: loaded by name. */
typedef HRESULT(WINAPI* NodeFromHandle)(HWND, HUIANODE*);
typedef HRESULT(WINAPI* GetPropertyValue)(HUIANODE, PROPERTYID, VARIANT*);
typedef BOOL(WINAPI* NodeRelease)(HUIANODE);
/* UiaFind and what it takes, as documented for uiautomationcoreapi.h. */
struct Condition { int type; }; /* 0: true */
struct CacheRequest {
    struct Condition* view;
    int scope; /* 1: the element itself */
    PROPERTYID* properties;
    int propertyCount;
    PATTERNID* patterns;
    int patternCount;
    int elementMode; /* 1: full */
};
struct FindParams { int maxDepth; BOOL findFirst; BOOL excludeRoot; struct Condition* condition; };
typedef HRESULT(WINAPI* Find)(HUIANODE, struct FindParams*, struct CacheRequest*, SAFEARRAY**,
                              SAFEARRAY**, SAFEARRAY**);

/* Every element below the node, with its control type and name. */
static void list_descendants(Find UiaFind, HUIANODE node) {
    struct Condition all = {0};
    PROPERTYID properties[] = {UIA_ControlTypePropertyId, UIA_NamePropertyId};
    struct CacheRequest request = {&all, 1, properties, 2, NULL, 0, 1};
    struct FindParams params = {-1, FALSE, TRUE, &all};
    SAFEARRAY *data = NULL, *offsets = NULL, *structures = NULL;
    HRESULT hr = UiaFind(node, &params, &request, &data, &offsets, &structures);
    printf("UiaFind: 0x%08lx\n", (unsigned long)hr);
    if (FAILED(hr) || !data) return;
    LONG rows0 = 0, rows1 = -1, cols0 = 0, cols1 = -1;
    SafeArrayGetLBound(data, 1, &rows0);
    SafeArrayGetUBound(data, 1, &rows1);
    SafeArrayGetLBound(data, 2, &cols0);
    SafeArrayGetUBound(data, 2, &cols1);
    printf("descendants: %ld\n", (long)(rows1 - rows0 + 1));
    for (LONG r = rows0; r <= rows1; ++r) {
        VARIANT type, name;
        VariantInit(&type);
        VariantInit(&name);
        LONG at[2] = {r, cols0 + 1};
        SafeArrayGetElement(data, at, &type);
        at[1] = cols0 + 2;
        SafeArrayGetElement(data, at, &name);
        printf("  control type %ld, name \"%ls\"\n", V_VT(&type) == VT_I4 ? (long)V_I4(&type) : -1L,
               V_VT(&name) == VT_BSTR && V_BSTR(&name) ? V_BSTR(&name) : L"");
        VariantClear(&type);
        VariantClear(&name);
    }
    SafeArrayDestroy(data);
    if (offsets) SafeArrayDestroy(offsets);
    if (structures) SafeArrayDestroy(structures);
}

static void print_variant(const char* what, const VARIANT* v) {
    if (V_VT(v) == VT_BSTR)
        printf("%s: \"%ls\"\n", what, V_BSTR(v));
    else if (V_VT(v) == VT_I4)
        printf("%s: %ld\n", what, (long)V_I4(v));
    else
        printf("%s: (variant type %d)\n", what, (int)V_VT(v));
}

struct FindJob { Find find; HUIANODE node; };

static DWORD WINAPI run_find(void* job) {
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    list_descendants(((struct FindJob*)job)->find, ((struct FindJob*)job)->node);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    setvbuf(stdout, NULL, _IONBF, 0);
    wchar_t title[512];
    MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, title, 512);
    const int wait = argc > 2 ? atoi(argv[2]) : 30;
    HWND hwnd = NULL;
    for (int i = 0; i < wait * 4 && !(hwnd = FindWindowW(NULL, title)); ++i) Sleep(250);
    if (!hwnd) {
        printf("no window titled \"%s\"\n", argv[1]);
        return 2;
    }
    if (argc > 3 && strcmp(argv[3], "close") == 0) {
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
        return 0;
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
    Find UiaFind = uia ? (Find)(void (*)(void))GetProcAddress(uia, "UiaFind") : NULL;
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
        if (UiaFind) {
            /* The walk through the window's elements may never come back: give it a while. */
            struct FindJob job = {UiaFind, node};
            HANDLE thread = CreateThread(NULL, 0, run_find, &job, 0, NULL);
            if (thread && WaitForSingleObject(thread, 15000) == WAIT_TIMEOUT) {
                printf("UiaFind: no answer within 15 s\n");
                ExitProcess(answered ? 0 : 1);
            }
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
