#include "device/windowtexts.h"

#include <string>
#include <unordered_map>

namespace {

// Greek as the window code writes it (without mnemonics), English, Japanese.
// Labels carry no mnemonic; menu items, buttons and check boxes do.
const WindowTextEntry kWindowTexts[] = {
    // Main window: the file list's columns.
    {"Όνομα", "Name", "名前"},
    {"Μέγεθος", "Size", "サイズ"},
    {"Ιδιότητες", "Attributes", "属性"},
    {"Ενημέρωση", "Modified", "更新日時"},
    {"Έναρξη", "Start", "開始位置"},
    // File menu.
    {"Αρχείο", "&File", "ファイル(&F)"},
    {"Πάνω κατάλογος", "&Up One Level", "上のディレクトリへ(&U)"},
    {"Εξαγωγή αρχείων ...", "&Export Files...", "ファイルの取り出し(&E)..."},
    {"Εισαγωγή αρχείων ...", "&Import Files...", "ファイルの書き込み(&I)..."},
    {"Δημιουργία φακέλου", "&New Folder", "ディレクトリの作成(&N)"},
    {"Διαγραφή", "&Delete", "削除(&D)"},
    {"Μετονομασία", "&Rename", "名前の変更(&R)"},
    {"Μενού επιφάνειας εργασίας", "De&sktop Menu", "デスクトップメニュー(&S)"},
    {"Άνοιγμα εικόνας δίσκου ...", "&Open Disk Image...", "ディスクイメージを開く(&O)..."},
    {"Έξοδος", "E&xit", "終了(&X)"},
    // Edit menu.
    {"Επεξεργασία", "&Edit", "編集(&E)"},
    {"Αντιγραφή", "&Copy", "コピー(&C)"},
    {"Επικόλληση", "&Paste", "貼り付け(&P)"},
    {"Επιλογή όλων", "Select &All", "すべて選択(&A)"},
    {"Αντιστροφή επιλογής", "&Invert Selection", "選択の切り替え(&I)"},
    // View menu.
    {"Εμφάνιση", "&View", "表示(&V)"},
    {"Μεγάλα εικονίδια", "Lar&ge Icons", "大きいアイコン(&G)"},
    {"Μικρά εικονίδια", "S&mall Icons", "小さいアイコン(&M)"},
    {"Λίστα", "&List", "一覧(&L)"},
    {"Λεπτομέρειες", "&Details", "詳細(&D)"},
    {"Εμφάνιση φακέλου .", "Show &This Folder (.)", "「.」を表示(&T)"},
    {"Εμφάνιση φακέλου ..", "Show &Parent Folder (..)", "「..」を表示(&P)"},
    {"Ρυθμίσεις ...", "&Settings...", "設定(&S)..."},
    {"Πληροφορίες για τον δίσκο ...", "Disk &Information...", "ディスク情報(&I)..."},
    // Extras menu.
    {"Επέκταση", "&Tools", "ツール(&T)"},
    {"Αποδέσμευση αρχείων και φακέλων", "&Release Files and Folders", "ファイルとディレクトリの解放(&R)"},
    {"Έλεγχος και επισκευή…", "&Check and Repair...", "検査と修復(&K)..."},
    {"Επισκευή", "&Repair", "修復(&R)"},
    {"Άνοιγμα μονάδας δίσκου ...", "Open &Drive...", "ドライブを開く(&D)..."},
    {"Δημιουργία εικόνας από δίσκο ...", "&Make Image from Floppy...", "フロッピーからイメージを作成(&M)..."},
    // Help menu.
    {"Βοήθεια", "&Help", "ヘルプ(&H)"},
    {"Βοήθεια ...", "&Contents...", "目次(&C)..."},
    {"Πληροφορίες για το Voldex ...", "&About Voldex...", "バージョン情報(&A)..."},
    // File choosers.
    {"Άνοιγμα εικόνας δίσκου", "Open Disk Image", "ディスクイメージを開く"},
    {"Εξαγωγή αρχείων", "Export Files", "ファイルの取り出し"},
    {"Εισαγωγή αρχείων", "Import Files", "ファイルの書き込み"},
    {"Όλα τα αρχεία (*)", "All files (*)", "すべてのファイル (*)"},
    {"Όλα τα αρχεία", "All files", "すべてのファイル"},
    {"Αναζήτηση σε:", "Look in:", "場所:"},
    {"Όνομα αρχείου:", "File name:", "ファイル名:"},
    {"Τύπος αρχείων:", "Files of type:", "ファイルの種類:"},
    {"Άνοιγμα", "&Open", "開く(&O)"},
    {"Επιλογή", "&Choose", "選択(&C)"},
    {"Αποθήκευση", "&Save", "保存(&S)"},
    // Buttons shared by the dialogs.
    {"Ναι", "&Yes", "はい(&Y)"},
    {"Όχι", "&No", "いいえ(&N)"},
    {"Άκυρο", "&Cancel", "キャンセル(&C)"},
    {"Κλείσιμο", "&Close", "閉じる(&C)"},
    {"Εύρεση", "&Search", "検索(&S)"},
    // Overwrite confirmation.
    {"Επιβεβαίωση αντικατάστασης", "Confirm Replace", "上書きの確認"},
    {"Υπάρχει ήδη ένα αρχείο με αυτό το όνομα!", "A file with this name already exists", "同じ名前のファイルが既にあります。"},
    {"Θέλετε να το αντικαταστήσετε με το παρακάτω αρχείο;", "Do you want to replace it with the file below?",
     "次のファイルで上書きしますか？"},
    {"Ναι σε όλα", "Yes to &All", "すべて上書き(&A)"},
    {"Όχι σε όλα", "N&o to All", "すべてスキップ(&O)"},
    // Settings.
    {"Ρυθμίσεις", "Settings", "設定"},
    {"Παράλειψη επιλογής προφίλ", "&Skip the disk type selection", "ディスク種別の選択を省略する(&S)"},
    {"Επιλογή πρώτου partition όταν ο σκληρός δίσκος έχει μόνο ένα",
     "Choose the partition &automatically when the hard disk has only one", "パーティションが 1 つだけなら自動で選択する(&A)"},
    {"Επιλογή πρώτου partition", "Always choose the &first partition", "常に最初のパーティションを選択する(&F)"},
    {"Ειδοποίηση ολοκλήρωσης εξαγωγής", "&Notify when an export has finished", "取り出しの完了を知らせる(&N)"},
    {"Επιβεβαίωση εξαγωγής αρχείου", "Confirm &moves inside the image", "イメージ内の移動を確認する(&M)"},
    {"Επιβεβαίωση εισαγωγής αρχείου", "Confirm &imports", "書き込みを確認する(&I)"},
    {"Η επιλεγμένη λειτουργία D&&D είναι εσωτερική", "&Drag and drop moves inside the image by default",
     "ドラッグ＆ドロップの既定の動作をイメージ内の移動にする(&D)"},
    {"Έξοδος με το πρώτο Άκυρο", "&Exit when the first image choice is cancelled",
     "最初のイメージ選択をキャンセルしたら終了する(&E)"},
    {"Εμφάνιση καταλόγων και δενδροειδούς μορφής", "Show the folders while the &tree is read",
     "ツリーの読み込み中にディレクトリを表示する(&T)"},
    {"Μακριά ονόματα αρχείων σε τόμους FAT", "Lon&g file names on FAT volumes", "FAT ボリュームで長いファイル名を使う(&G)"},
    {"Γενικές ρυθμίσεις", "General", "全般"},
    {"Γλώσσα", "&Language", "言語(&L)"},
    {"Ελληνικά", "Greek (Ελληνικά)", "ギリシャ語 (Ελληνικά)"},
    {"Αυτόματα (από το περιβάλλον)", "Automatic (from the environment)", "自動（環境変数に従う）"},
    {"Η γλώσσα αλλάζει στην επόμενη εκκίνηση.", "The language changes at the next start.",
     "言語は次回の起動時に切り替わります。"},
    // Help window.
    {"Βοήθεια - Voldex", "Voldex Help", "Voldex ヘルプ"},
    // Disk type.
    {"Άνοιγμα δίσκου", "Open Disk", "ディスクを開く"},
    {"Αυτός ο δίσκος είναι της μορφής:", "Disk type:", "ディスク種別:"},
    {"Δισκέτα ειδικής μορφής ...", "Custom floppy disk...", "特殊フォーマットのフロッピー..."},
    {"Σκληρός δίσκος ειδικής μορφής ...", "Custom hard disk...", "特殊フォーマットのハードディスク..."},
    {"Απλή εικόνα δίσκου", "Plain disk image", "ベタイメージ"},
    // The name of the shipped detect-by-content profile.
    {"Αναγνώριση από το περιεχόμενο", "Detect by content", "内容から自動判別"},
    // Partitions.
    {"Τα διαμερίσματα που βρέθηκαν εμφανίζονται στην παρακάτω λίστα:", "The partitions found are listed below:",
     "見つかったパーティションの一覧です:"},
    {"Αρχή", "Start", "開始"},
    {"Τέλος", "End", "終了"},
    {"Αρχή (κύλινδρος)", "Start (cylinder)", "開始 (シリンダ)"},
    {"Τέλος (κύλινδρος)", "End (cylinder)", "終了 (シリンダ)"},
    {"Αρχή (sector)", "Start (sector)", "開始 (セクタ)"},
    {"Τέλος (sector)", "End (sector)", "終了 (セクタ)"},
    {"Αρχή (εγγραφή)", "Start (record)", "開始 (レコード)"},
    {"Τέλος (εγγραφή)", "End (record)", "終了 (レコード)"},
    {"Μετατόπιση (bytes)", "Offset (bytes)", "オフセット (バイト)"},
    {"Χωρητικότητα", "Capacity", "容量"},
    {"Λεπτομέρειες ...", "&Details...", "詳細(&D)..."},
    {"Sectors", "Sectors", "セクタ数"},
    {"Κύλινδροι", "Cylinders", "シリンダ数"},
    {"Μέγεθος sectors", "Sector size", "セクタ長"},
    {"Κεφαλές", "Heads", "ヘッド数"},
    {"Μορφή", "Format", "形式"},
    {"Άνοιγμα ξανά", "&Reload", "再読み込み(&R)"},
    // Manual parameters.
    {"Δισκέτα ειδικής μορφής", "Custom Floppy Disk", "特殊フォーマットのフロッピー"},
    {"Σύστημα αρχείων", "File system", "ファイルシステム"},
    {"Τύπος FAT", "FAT type", "FAT の種類"},
    {"Θέση FAT", "FAT position", "FAT の位置"},
    {"Αριθμός FAT", "Number of FATs", "FAT の数"},
    {"Μέγεθος FAT", "FAT size", "FAT のサイズ"},
    {"Θέση ρίζας", "Root folder position", "ルートディレクトリの位置"},
    {"Θέση περιοχής χρήσης", "Data area position", "データ領域の位置"},
    {"Μέγεθος cluster", "Cluster size", "クラスタサイズ"},
    {"Σύνολο clusters", "Total clusters", "総クラスタ数"},
    {"Αυτόματη ανάγνωση", "&Read Boot Record", "ブートレコードから読む(&R)"},
    // Boot-sector search.
    {"Εύρεση εκκίνησης", "Find the Boot Sector", "ブートセクタの検索"},
    {"Μετατόπιση", "Offset", "オフセット"},
    {"Μήκος sector", "Sector length", "セクタ長"},
    {"Εκκίνηση", "Start", "開始位置"},
    // Physical drive.
    {"Άνοιγμα μονάδας δίσκου", "Open Drive", "ドライブを開く"},
    {"/dev/sdX\nΑντικαταστήστε το X με το όνομα του δίσκου.\nΟι δίσκοι ανοίγουν μόνο για ανάγνωση.",
     "/dev/sdX\nReplace X with the name of the drive.\nDrives are opened read-only.",
     "/dev/sdX\nX をドライブ名に置き換えてください。\nドライブは読み込み専用で開きます。"},
    // Disk information.
    {"Πληροφορίες για τον δίσκο", "Disk Information", "ディスク情報"},
    {"Αρχείο:", "File:", "ファイル:"},
    {"Πρόσβαση:", "Access:", "アクセス方法:"},
    {"Ενσωματωμένη πρόσβαση σε αρχεία", "Built-in file access", "内蔵のファイルアクセス"},
    {"Περιέκτης:", "Container:", "コンテナ:"},
    {"Γεωμετρία:", "Geometry:", "ジオメトリ:"},
    {"Σύστημα αρχείων:", "File system:", "ファイルシステム:"},
    {"Τύπος FAT:", "FAT type:", "FAT の種類:"},
    {"Φάκελος ρίζας:", "Root folder:", "ルートディレクトリ:"},
    {"Μέγεθος cluster:", "Cluster size:", "クラスタサイズ:"},
    {"Χωρητικότητα:", "Capacity:", "容量:"},
    {"Σε χρήση:", "Used:", "使用中:"},
    {"Ελεύθερα:", "Free:", "空き:"},
    // Progress of a long operation.
    {"Μετακίνηση", "Move", "移動"},
    // Drop confirmation and the shell menu.
    {"Άνοιγμα με την προεπιλεγμένη εφαρμογή", "Open with the Default Application", "既定のアプリケーションで開く"},
    {"Εμφάνιση του φακέλου", "Show the Folder", "フォルダを表示"},
    // Floppy image maker.
    {"Δημιουργία εικόνας από δίσκο", "Make Image from Floppy", "フロッピーからイメージを作成"},
    {"Ο δίσκος προέλευσης πρέπει να έχει προστασία εγγραφής.",
     "Write-protect the source disk before you start.", "読み込むディスクはライトプロテクトしてから始めてください。"},
    {"Αποθήκευση σε", "Save to", "保存先"},
    {"Επιλογή ...", "&Browse...", "参照(&B)..."},
    {"Δίσκος προέλευσης", "Source drive", "読み込むドライブ"},
    {"Πρόοδος", "Progress", "進行状況"},
    {"Εκτέλεση", "&Start", "実行(&S)"},
    // New image and properties.
    {"Νέα εικόνα δίσκου ...", "New Dis&k Image...", "新しいディスクイメージ(&K)..."},
    {"Νέα εικόνα δίσκου", "New Disk Image", "新しいディスクイメージ"},
    {"Μετατροπή εικόνας…", "Con&vert image…", "イメージの変換(&V)..."},
    {"Μετατροπή εικόνας", "Convert image", "イメージの変換"},
    {"Η εικόνα-στόχος δεν μπορεί να κρατήσει:", "The target cannot hold:", "変換先に保持できないもの："},
    {"Μετατροπή παρ' όλα αυτά", "Convert &Anyway", "それでも変換(&A)"},
    {"Αναγνώριση:", "Identified:", "識別："},
    {"Ιδιότητες ...", "Pr&operties...", "プロパティ(&O)..."},
    {"Ιδιότητες στοιχείου", "Properties", "プロパティ"},
    {"Ετικέτα τόμου", "Volume label", "ボリュームラベル"},
    {"Αποθήκευση ως", "Save as", "保存先"},
    {"Επεκτάσεις:", "Extensions:", "拡張子:"},
    {"NFD r1 για .nfd", "NFD &r1 for .nfd", ".nfd を NFD r1 で(&R)"},
    {"Δισκέτα PC-9801 1,23 MB (77 x 2 x 8 x 1024), FAT12", "PC-9801 1.23 MB floppy (77 x 2 x 8 x 1024), FAT12", "PC-9801 1.23MB フロッピー (77 x 2 x 8 x 1024)、FAT12"},
    {"Δισκέτα 1,44 MB (80 x 2 x 18 x 512), FAT12", "1.44 MB floppy (80 x 2 x 18 x 512), FAT12", "1.44MB フロッピー (80 x 2 x 18 x 512)、FAT12"},
    {"Δισκέτα 720 KB (80 x 2 x 9 x 512), FAT12", "720 KB floppy (80 x 2 x 9 x 512), FAT12", "720KB フロッピー (80 x 2 x 9 x 512)、FAT12"},
    {"Δισκέτα PC-9801 640 KB (80 x 2 x 8 x 512), FAT12", "PC-9801 640 KB floppy (80 x 2 x 8 x 512), FAT12", "PC-9801 640KB フロッピー (80 x 2 x 8 x 512)、FAT12"},
    {"Δισκέτα X68000 1,23 MB (77 x 2 x 8 x 1024), Human68k", "X68000 1.23 MB floppy (77 x 2 x 8 x 1024), Human68k", "X68000 1.23MB フロッピー (77 x 2 x 8 x 1024)、Human68k"},
    {"Σκληρός δίσκος PC-9801, ένα διαμέρισμα FAT16", "PC-9801 hard disk, one FAT16 partition", "PC-9801 ハードディスク、FAT16 パーティション 1 個"},
    {"Σκληρός δίσκος AT, ένα διαμέρισμα FAT16", "AT hard disk, one FAT16 partition", "AT ハードディスク、FAT16 パーティション 1 個"},
    {"Σκληρός δίσκος X68000 SCSI ή SASI, ένα διαμέρισμα Human68k", "X68000 SCSI or SASI hard disk, one Human68k partition", "X68000 SCSI/SASI ハードディスク、Human68k パーティション 1 個"},
    {"Μόνο για ανάγνωση", "&Read-only", "読み込み専用(&R)"},
    {"Κρυφό", "&Hidden", "隠しファイル(&H)"},
    {"Συστήματος", "&System", "システム(&S)"},
    {"Αρχειοθέτηση", "&Archive", "アーカイブ(&A)"},
};

const std::unordered_map<std::string, std::size_t>& Index() {
    static const std::unordered_map<std::string, std::size_t> index = [] {
        std::unordered_map<std::string, std::size_t> m;
        for (std::size_t i = 0; i < sizeof(kWindowTexts) / sizeof(kWindowTexts[0]); ++i)
            m.emplace(WindowTextKey(kWindowTexts[i].greek), i);
        return m;
    }();
    return index;
}

}  // namespace

WindowTextTable WindowTexts() { return {kWindowTexts, sizeof(kWindowTexts) / sizeof(kWindowTexts[0])}; }

std::string WindowTextKey(const std::string& text) {
    std::string key;
    key.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            key += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '&') {
            key += '&';
            ++i;
        }
    }
    return key;
}

const char* WindowTextIn(Language language, const char* greek) {
    if (!greek) return nullptr;
    if (language == Language::Greek) return greek;
    auto it = Index().find(WindowTextKey(greek));
    if (it == Index().end()) return nullptr;
    const WindowTextEntry& e = kWindowTexts[it->second];
    return language == Language::English ? e.english : e.japanese;
}

const char* WindowText(const char* greek) {
    const char* text = WindowTextIn(CurrentLanguage(), greek);
    return text ? text : greek;
}
