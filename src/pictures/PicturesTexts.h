// The fixed texts of the coin pictures: the messages of an attach that
// cannot be made, the panel's buttons and the viewer's column. "%1" stands
// for a file name.
#pragma once

namespace klv::pictures::texts {

// A picture that cannot be attached.
inline constexpr char kCannotRead[] = "The file \"%1\" cannot be read.";
inline constexpr char kNotAPicture[] =
    "The file \"%1\" is not a picture this program can keep: only JPEG, PNG and WebP pictures can "
    "be attached.";
inline constexpr char kIncomplete[] =
    "The picture \"%1\" is incomplete: the file ends before the picture does.";
inline constexpr char kDamaged[] = "The picture \"%1\" is damaged and cannot be shown.";
inline constexpr char kNoSuchRow[] = "There is no coin with record number %1.";
inline constexpr char kNoSuchPicture[] = "There is no unattached picture named \"%1\".";
inline constexpr char kBusy[] =
    "The pictures of this database are being changed by another program.  Try again later.";

// The sides of a coin, as the index table and the tool name them.
inline constexpr char kObverse[] = "obverse";
inline constexpr char kReverse[] = "reverse";

// The picture panel of the edit form.
inline constexpr char kObverseCaption[] = "Obverse";
inline constexpr char kReverseCaption[] = "Reverse";
inline constexpr char kAttachButton[] = "Attach...";
inline constexpr char kReplaceButton[] = "Replace...";
inline constexpr char kRemoveButton[] = "Remove";
inline constexpr char kNoPicture[] = "No picture";
inline constexpr char kCannotShow[] = "The picture cannot be shown";
inline constexpr char kChooseCaption[] = "Choose a Picture";
inline constexpr char kChooseFilter[] =
    "Pictures (*.jpg *.jpeg *.png *.webp)|*.jpg *.jpeg *.png *.webp";
inline constexpr char kRemoveQuestion[] = "Remove the %1 picture of this coin?";
inline constexpr char kLargeCaption[] = "Picture";

// The viewer grid's picture column.
inline constexpr char kColumnCaption[] = "Obverse";

}  // namespace klv::pictures::texts
